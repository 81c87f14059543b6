#include "qzprofile.h"
char tmpfile_name[20];
int tmpfile_created = 0;
void create_qzprofile(FILE* out) { fputs(QZPROFILE_TEXT, out); }
int create_temp_qzprofile() { return 1; }
const char* give_temp_qzprofile_name() { return nullptr; }
int write_temp_qzprofile() { return 1; }
std::unique_ptr<std::string> get_env_var_from_temp_qzprofile(const char*) { return nullptr; }
int update_env_var_with_temp_qzprofile(const char*) { return -1; }
int delete_env_var_with_temp_qzprofile(const char*) { return -1; }
int delete_temp_qzprofile() { return 1; }
