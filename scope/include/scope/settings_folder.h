// Where the settings files of an MC application live: a folder under the installation root, or
// the user's configuration folder when that one cannot be made or written. An application's
// name is always one folder.
#pragma once

#include <string>

namespace scope {

// root + "/user/dsf/ombrix/" + the application's name.
std::string SettingsFolderOf(const std::string& rootFolder, const std::string& applName);
// Where settings go when that folder cannot be made or written: the user's configuration
// folder ($XDG_CONFIG_HOME, else ~/.config; empty when neither is known) + "/ombrix/" + name.
std::string UserConfigFolder();
std::string FallbackSettingsFolderOf(const std::string& configFolder, const std::string& applName);

} // namespace scope
