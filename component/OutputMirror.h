// Keeping an output folder in step with its library: the outputs the folder's record holds for
// inputs that are gone, and their removal. Only what the record names as this program's, and is
// still as its run left it, is ever removed.
#ifndef SOUNDPICK_COMPONENT_OUTPUTMIRROR_H
#define SOUNDPICK_COMPONENT_OUTPUTMIRROR_H

#include "component/OutputManifest.h"
#include "component/Shard.h"

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

// The recorded outputs inside the output folder whose input lay under one of the folders and is
// gone, of the inputs the shard takes (by their path under that folder). An input outside the
// folders is not judged: its tree may be elsewhere, or not mounted.
std::vector<TManifestEntry> GoneInputOutputs(const TOutputManifest& manifest,
                                             const std::vector<std::filesystem::path>& folders,
                                             const TShard& shard);

// Each input's outputs as a run left them (absolute paths): those it made or found up to date.
using TCurrentOutputs = std::map<std::filesystem::path, std::set<std::filesystem::path>>;

// The recorded outputs inside the output folder of the inputs in current that are none of
// their outputs now but of the same kind (extension) as one: an older numbered name, the name
// their tags gave before. Another format's outputs are a mirror of their own, which a run in
// this format leaves (runs in two formats into one folder never remove each other's outputs).
std::vector<TManifestEntry> FormerOutputs(const TOutputManifest& manifest,
                                          const TCurrentOutputs& current);

// Why a recorded output may not be removed (a link, or a file changed into other sound since its
// run); "" when it is still the file its run left, or gone already.
std::string RemovalRefusal(const TManifestEntry& entry, const std::filesystem::path& output);

// Removes a recorded output (when RemovalRefusal allows), the folders under the
// output folder it leaves empty, and its record. "" or why it is left.
std::string RemoveGoneOutput(TOutputManifest& manifest, const TManifestEntry& entry);

#endif
