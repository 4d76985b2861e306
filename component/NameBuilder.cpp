// The builder of output names.
#include "component/NameBuilder.h"

#include "component/SafeName.h"

TWantedOutput BuildOutputName(const TNameParts& parts) {
    const std::string suffix =
        parts.Suffix.empty() ? std::string() : SafeNamePart(parts.Suffix, MaxNamePartBytes / 2);
    const std::filesystem::path folders = SafeRelativePath(parts.Folders);
    const std::string name = SafeNamePart(parts.Name, MaxNamePartBytes - suffix.size());
    return {.Base = (parts.Folder / folders / name).string(),
            .Suffix = suffix,
            .Extension = parts.Extension,
            .Marked = parts.Marked,
            .Replace = parts.Replace};
}
