// The cover pictures of an album folder (cover.jpg, folder.jpg, front.png, ...), copied beside
// the outputs made from that folder's tracks.
#ifndef SOUNDPICK_COMPONENT_COVERIMAGES_H
#define SOUNDPICK_COMPONENT_COVERIMAGES_H

#include <filesystem>
#include <vector>

// A picture file and the name of its copy.
struct TImageCopy {
    std::filesystem::path From;
    std::filesystem::path To;

    bool operator==(const TImageCopy&) const = default;
};

// Whether a file is a picture by its extension (jpg, jpeg, png, gif, bmp, webp, in any case).
bool IsImageFile(const std::filesystem::path& file);

// Whether a folder is named as one disc of a set: "CD1", "CD 2", "Disc 1", "disk2 - Live", ...
bool IsDiscFolderName(const std::filesystem::path& folder);

// The pictures of an input folder to go beside its outputs in outputFolder: the visible picture
// files directly in it; for a disc folder of a multi-disc album also the album folder's pictures
// above it, into the outputs' parent when the outputs keep the disc folder (the tree as it is),
// else beside the outputs. In path order.
std::vector<TImageCopy> AlbumImages(const std::filesystem::path& inputFolder,
                                    const std::filesystem::path& outputFolder);

// Copies the pictures, their folders made; a picture already there is kept. The number copied.
int CopyImages(const std::vector<TImageCopy>& images);

#endif
