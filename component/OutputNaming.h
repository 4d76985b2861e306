// The naming rule of outputs: a name that exists or another task of the list will take gives
// way to the first free "_(new_N)" form.
#ifndef SOUNDPICK_COMPONENT_OUTPUTNAMING_H
#define SOUNDPICK_COMPONENT_OUTPUTNAMING_H

#include "component/OptionRecords.h"

#include <string>
#include <vector>

// The name an output would like, as its parts.
struct TWantedOutput {
    std::string Base;      // folder and name, without the mark and the extension
    std::string Extension; // with its dot
    // The first choice carries the "_(new)" mark (a tree's names go without: the tree keeps
    // equal names apart).
    bool Marked = true;
    // A file with the first choice's name is replaced rather than numbered past.
    bool Replace = false;
};

// base + "_(new)" + extension for number 0, else base + "_(new_N)" + extension.
TPathFileName NewOutputName(const std::string& base, const std::string& extension, int number);

// The first choice when neither claimed nor (unless replacing) on disk; else the first numbered
// name from 1 on that is neither.
TPathFileName FreeOutputName(const TWantedOutput& wanted,
                             const std::vector<TPathFileName>& claimed);

// The first free numbered name after a taken one ("x_(new).mp3" or "x_(new_2).mp3" give
// "x_(new_1).mp3" or "x_(new_3).mp3" or the next free after them); empty for a name that is not
// numbered so.
TPathFileName NextFreeOutputName(const TPathFileName& taken);

#endif
