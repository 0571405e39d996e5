#pragma once
// Settings addressed like an initialisation file (application, section, key)
// and kept in the settings store under
// HKEY_LOCAL_MACHINE\SOFTWARE\<application>\<section>, one text value per key.
#include <string>

namespace korvena {

// Error numbers raised by the two operations (the object-error base is
// 0x80040000); failures of the store add its Windows error code to
// RegistryCallFailed, a value that is not text adds its type code.
namespace regerr {
inline constexpr long ObjectErrorBase = -2147221504L;
inline constexpr long AppNameEmpty = ObjectErrorBase + 1000;
inline constexpr long SectionEmpty = ObjectErrorBase + 1001;
inline constexpr long KeyEmpty = ObjectErrorBase + 1002;
inline constexpr long RegistryCallFailed = ObjectErrorBase + 2000;
}  // namespace regerr

// Stores Setting as text under the value named Key (exactly as given) of the
// key SOFTWARE\<AppName trimmed>\<Section trimmed>. An empty Setting creates
// the key and leaves any stored value as it was. Throws korvena::RuntimeError.
void WriteSetting(const std::string& AppName, const std::string& Section, const std::string& Key,
                  const std::string& Setting);

// The text stored at that address, or Default when the key or the value does
// not exist. A value that is not text is an error. Throws korvena::RuntimeError.
std::string ReadSetting(const std::string& AppName, const std::string& Section, const std::string& Key,
                        const std::string& Default);

}  // namespace korvena
