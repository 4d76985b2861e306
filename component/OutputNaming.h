// The naming rule of outputs: a name is built whole (with its track's or piece's suffix),
// cleaned, and only then checked; a name that exists or another task of the list will take
// gives way to the first free "_(new_N)" form.
#ifndef SOUNDPICK_COMPONENT_OUTPUTNAMING_H
#define SOUNDPICK_COMPONENT_OUTPUTNAMING_H

#include "component/NameBuilder.h"
#include "component/OptionRecords.h"

#include <functional>
#include <string>
#include <vector>

// base + "_(new)" + suffix + extension for number 0, else base + "_(new_N)" + suffix +
// extension, the name after base's folder and the suffix cleaned (BuildOutputName).
TPathFileName NewOutputName(const std::string& base, const std::string& extension, int number,
                            const std::string& suffix = {});

// The first choice when neither claimed nor (unless replacing) on disk; else the first numbered
// name from 1 on that is neither.
TPathFileName FreeOutputName(const TWantedOutput& wanted,
                             const std::vector<TPathFileName>& claimed);

// Who has a name in an output folder, as a library run sees it.
enum TNameHolder {
    nhNobody,     // free
    nhThisInput,  // the input's own output, as the folder's record says
    nhOtherInput, // another input's output, or a name another task of the run takes
    nhUnknown     // a file this program did not record
};

// The input's own name: from the first choice (from its numbered form firstNumber, when above
// 0) on, the first name that is free or the input's own; holder says who has a name. Before
// that, a form below firstNumber that recordedOwn says was the input's own keeps it: inputs
// that sort before it, added since, shift its rank but take no name from it.
TPathFileName OwnOutputName(const TWantedOutput& wanted, int firstNumber,
                            const std::function<TNameHolder(const TPathFileName&)>& holder,
                            const std::function<bool(const TPathFileName&)>& recordedOwn = {});

// The first free numbered name after a taken one ("x_(new).mp3", "x_(new_2)_1_eng.mp3" give
// "x_(new_1).mp3", "x_(new_3)_1_eng.mp3" or the next free after them; a tree's "x_1_eng.mp3"
// with its suffix "_1_eng" gives "x_(new_1)_1_eng.mp3"); empty for a mark whose number is no
// number.
TPathFileName NextFreeOutputName(const TPathFileName& taken, const std::string& suffix = {});

#endif
