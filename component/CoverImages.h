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

#endif
