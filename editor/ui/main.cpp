// zelvikcfg [settings file] [ODBC=<dsn> [USER=<user> [PASSWORD=<password> [DATA=<dir>]]]]
// Zelvik's main window starts it with the absolute path of its zelvik.ini.
#include <unistd.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <climits>
#include <string>
#include <vector>

#include "config/connection_config.h"
#include "editor/command_line.h"
#include "editor/connection_params.h"
#include "editor/editor_settings.h"
#include "editor/ui/background_call.h"
#include "editor/ui/settings_dialog.h"

int main(int argc, char** argv) {
    // The arguments as bytes, before Qt takes its own options out.
    const std::vector<std::string> arguments(argv, argv + argc);
    QApplication app(argc, argv);
    // Qt's own texts (message box buttons, the file and folder dialogs) in Russian like
    // the rest of the editor, from the distribution's translations.
    QTranslator qt_russian;
    if (qt_russian.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qt_russian);
    char cwd[PATH_MAX] = ".";
    if (::getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '.', cwd[1] = '\0';

    zelvik::editor::EditorSettings settings;
    settings.settings_path = zelvik::editor::resolve_settings_path(arguments, cwd);
    // The connection values are those of the file being edited, so that a save never
    // writes another file's values into it.
    zelvik::editor::ConnectionParams params = zelvik::editor::resolve_connection_params(
        {arguments, settings.settings_path, zelvik::config::default_qsx_path()});

    zelvik::editor::ui::SettingsDialog dialog(settings, params);
    dialog.exec();
    zelvik::editor::ui::BackgroundCall::wait_all(2000);
    return 0;
}
