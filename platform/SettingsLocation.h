#pragma once

#include <QString>

// Which settings file Nelo uses, in this order:
//  1. the file named by NELO_SETTINGS_FILE, when that is set (tests, a second
//     configuration);
//  2. the file beside the executable ("nelo.INI"), when it exists or its
//     folder can be written: the place Nelo keeps its settings;
//  3. otherwise (nelo installed in a system folder such as /usr/bin, where
//     Exit could never save and so never end the program) the user's own
//     file, userFile.
QString ChooseSettingsFile(const QString &environmentChoice, const QString &besideExecutable,
                           const QString &userFile);

// The user's own settings file: <XDG config folder>/nelo/nelo.INI.
QString UserSettingsFile();
