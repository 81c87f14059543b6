#include "installdir.h"
bool getInstallDir(const std::string&, std::string&, std::string&) { return false; }
bool Check_InstallDir_Attr(const std::string&) { return false; }
