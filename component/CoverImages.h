// The cover pictures of an album folder (cover.jpg, folder.jpg, front.png, ...), copied beside
// the outputs made from that folder's tracks.
#ifndef SOUNDPICK_COMPONENT_COVERIMAGES_H
#define SOUNDPICK_COMPONENT_COVERIMAGES_H

#include <filesystem>

// Whether a file is a picture by its extension (jpg, jpeg, png, gif, bmp, webp, in any case).
bool IsImageFile(const std::filesystem::path& file);

// Copies the visible picture files directly in inputFolder into outputFolder, made when there is
// one; a picture already there is kept. The number copied.
int CopyFolderImages(const std::filesystem::path& inputFolder,
                     const std::filesystem::path& outputFolder);

// Whether a folder is named as one disc of a set: "CD1", "CD 2", "Disc 1", "disk2 - Live", ...
bool IsDiscFolderName(const std::filesystem::path& folder);

// The pictures of an input folder beside its outputs (CopyFolderImages); for a disc folder of
// a multi-disc album also the album folder's pictures above it: into the outputs' parent when
// the outputs keep the disc folder (the tree as it is), else beside the outputs. The number
// copied.
int CopyAlbumImages(const std::filesystem::path& inputFolder,
                    const std::filesystem::path& outputFolder);

#endif
