#pragma once
// Service addresses and contact numbers. Each is a constant of the build that an environment
// variable of the same name overrides; the offline demo and the tests override them in-process
// with Config::set, which wins over both.

#include <string>
#include <string_view>
#include <vector>

namespace vantorel::config {

// Keys are the environment variable names, e.g. "VANTOREL_CATALOGUE_BASE".
std::string get(std::string_view key);
void set(std::string_view key, std::string value);
void unset(std::string_view key);

std::string catalogueBase(); // scheme://host[:port], no trailing slash
std::string logoBase();
std::string versionBase(); // empty: the version check is skipped
std::vector<std::string> shareHosts();
// Where the share pages of `linkHost` are fetched: VANTOREL_SHARE_BASE, else https:// + host.
std::string shareBase(std::string_view linkHost);
std::string groupLinkBase();
std::string chatQQ();
std::string groupQQ();
// The user's home: HOME when it is an absolute path, else the account's home from the password
// database; empty when neither gives one.
std::string homeFolder();
// The settings file: VANTOREL_INI, else under XDG_CONFIG_HOME (when absolute) or the home's
// .config; empty when there is no home, so that it never lands in the working folder.
std::string iniPath();
// Folder for catalogue downloads; empty means the front end's own notion of the desktop.
std::string desktopDir();

} // namespace vantorel::config
