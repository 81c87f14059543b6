// Publishing and withdrawing QZSHCOMP, QZLIB and QZBIN.
#pragma once

#include <string>
#include <vector>

// 0 success, 1 failure; appends the Environment section text for files.dat.
int set_env_vars(const std::string& homeVal, const std::string& fileDir, std::string& environ_section_contents);
bool insert_lines_in_file(const std::string& szFilename, const std::vector<std::string>& newlines);
std::string getParamValFromEnvironSectionVector(const std::vector<std::string>* lines, const std::string& param_name);
int updateParamValInEnvironSectionVector(std::vector<std::string>* lines, const std::string& param_name,
                                         const std::string& new_param_value);
bool checkIfEnvVarIsPresentInProfile(const std::string& fileName, const std::string& env_var_name);
// Non-zero when withdrawn or nothing to withdraw, 0 on failure.
int del_env_vars(const std::string& homeVal);
bool remove_lines_from_file(const std::string& szFilename, const std::vector<std::string>& removelines);
// The line that publishes name=value in $HOME/.profile.
std::string userProfileLine(const std::string& name, const std::string& value);
