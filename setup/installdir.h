// Choosing and checking the install directory.
#pragma once

#include <string>

bool getInstallDir(const std::string& userSpecifiedDir, std::string& installDir, std::string& linkDir);
bool Check_InstallDir_Attr(const std::string& installDir);
