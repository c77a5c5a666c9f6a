// Data source and driver listing through the driver manager. Each call makes its own
// environment, so the list always reflects the files as they are now.
#include "editor/data_sources.h"

#include <cstdlib>

#include "common/text.h"
#include "db/odbc_handle.h"

namespace zelvik::editor {
namespace {

void fetch_sources(SQLHENV env, SQLUSMALLINT first, bool system, std::vector<DataSource>& out) {
    SQLCHAR name[512];
    SQLCHAR description[512];
    SQLSMALLINT name_len = 0, description_len = 0;
    SQLUSMALLINT direction = first;
    while (out.size() < kMaxDataSources) {
        const SQLRETURN r = SQLDataSources(env, direction, name, sizeof name, &name_len,
                                           description, sizeof description, &description_len);
        if (!db::odbc_ok(r)) break;
        out.push_back({reinterpret_cast<const char*>(name), system});
        direction = SQL_FETCH_NEXT;
    }
}

}  // namespace

std::vector<DataSource> enumerate_data_sources() {
    std::vector<DataSource> out;
    db::OdbcEnvironment env;
    if (!env.valid()) return out;
    fetch_sources(env.get(), SQL_FETCH_FIRST_SYSTEM, true, out);
    fetch_sources(env.get(), SQL_FETCH_FIRST_USER, false, out);
    return out;
}

std::string data_source_line(const DataSource& source) {
    return source.name + (source.system ? " (System DSN)" : " (User DSN)");
}

std::string strip_kind_suffix(const std::string& line) {
    size_t cut = std::string::npos;
    for (const char* suffix : {" (System DSN)", " (User DSN)"}) {
        const size_t at = line.find(suffix);
        if (at != std::string::npos && at < cut) cut = at;
    }
    return cut == std::string::npos ? line : line.substr(0, cut);
}

int find_data_source_line(const std::vector<std::string>& lines, const std::string& data_source) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (common::istarts_with(lines[i], data_source)) return static_cast<int>(i);
    }
    return -1;
}

std::vector<std::string> installed_drivers() {
    std::vector<std::string> out;
    db::OdbcEnvironment env;
    if (!env.valid()) return out;
    SQLCHAR name[512];
    SQLCHAR attributes[1024];
    SQLSMALLINT name_len = 0, attributes_len = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (db::odbc_ok(SQLDrivers(env.get(), direction, name, sizeof name, &name_len, attributes,
                                  sizeof attributes, &attributes_len))) {
        out.emplace_back(reinterpret_cast<const char*>(name));
        direction = SQL_FETCH_NEXT;
    }
    return out;
}

std::vector<std::string> odbc_ini_files() {
    std::vector<std::string> files;
    const char* user_ini = std::getenv("ODBCINI");
    if (user_ini != nullptr && *user_ini != '\0') {
        files.emplace_back(user_ini);
    } else {
        const char* home = std::getenv("HOME");
        files.push_back(std::string(home != nullptr ? home : "~") + "/.odbc.ini");
    }
    const char* sys_dir = std::getenv("ODBCSYSINI");
    const std::string dir = (sys_dir != nullptr && *sys_dir != '\0') ? sys_dir : "/etc";
    files.push_back(dir + "/odbc.ini");
    files.push_back(dir + "/odbcinst.ini");
    return files;
}

std::string odbc_configuration_help() {
    std::string text =
        "Программа настройки источников данных ODBC не установлена.\n"
        "Источники данных описываются в файлах:\n";
    const std::vector<std::string> files = odbc_ini_files();
    text += "  " + files[0] + " (источники пользователя)\n";
    text += "  " + files[1] + " (системные источники)\n";
    text += "Драйверы описаны в файле " + files[2] + ".\n\nУстановленные драйверы:\n";
    const std::vector<std::string> drivers = installed_drivers();
    if (drivers.empty()) text += "  (нет)\n";
    for (const std::string& d : drivers) text += "  " + d + "\n";
    return text;
}

}  // namespace zelvik::editor
