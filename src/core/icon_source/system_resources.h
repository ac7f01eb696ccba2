// Windows 10 (1903) and later keep the icons of many system libraries, such
// as imageres.dll and shell32.dll, in resource-only PE files beside the
// system folder: <Windows>/SystemResources/<library name>.mun. The library in
// System32 then holds no icon groups, and the shell's icon extraction follows
// the redirection; so do we.
#pragma once

#include <filesystem>
#include <optional>

namespace pictrove {

// The .mun file standing for `library`: SystemResources/<name>.mun in the
// folder above the library's folder, both names matched without regard to
// ASCII letter case, as on the Windows file systems they come from. Nothing
// when there is none.
std::optional<std::filesystem::path> systemResourcesFile(const std::filesystem::path& library);

}  // namespace pictrove
