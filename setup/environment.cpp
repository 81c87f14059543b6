#include "environment.h"
int set_env_vars(const std::string&, const std::string&, std::string&) { return 1; }
bool insert_lines_in_file(const std::string&, const std::vector<std::string>&) { return false; }
std::string getParamValFromEnvironSectionVector(const std::vector<std::string>*, const std::string&) { return ""; }
int updateParamValInEnvironSectionVector(std::vector<std::string>*, const std::string&, const std::string&) { return 1; }
bool checkIfEnvVarIsPresentInProfile(const std::string&, const std::string&) { return false; }
int del_env_vars(const std::string&) { return 0; }
bool remove_lines_from_file(const std::string&, const std::vector<std::string>&) { return false; }
