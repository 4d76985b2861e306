// The builder of output names.
#include "component/NameBuilder.h"

#include "component/SafeName.h"

TWantedOutput BuildOutputName(const TNameParts& parts) {
    const std::string suffix =
        parts.Suffix.empty() ? std::string() : SafeNamePart(parts.Suffix, MaxNamePartBytes / 2);
    std::filesystem::path base = parts.Folder;
    for (std::size_t i = 0; i + 1 < parts.Path.size(); ++i)
        if (!parts.Path[i].empty())
            base /= SafeNamePart(parts.Path[i]);
    const std::string name = parts.Path.empty() ? std::string() : parts.Path.back();
    base /= SafeNamePart(name, MaxNamePartBytes - suffix.size());
    return {.Base = base.string(),
            .Suffix = suffix,
            .Extension = parts.Extension,
            .Marked = parts.Marked,
            .Replace = parts.Replace};
}

TNamePath NamePathOf(const std::filesystem::path& relative) {
    TNamePath path;
    for (const std::filesystem::path& part : relative.relative_path())
        path.push_back(part.string());
    return path;
}
