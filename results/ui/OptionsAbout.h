#pragma once

#include <QDialog>

#include <functional>
#include <string>

#include "LanguageCatalogue.h"

class QLineEdit;
class QUrl;

namespace orv {
class SettingsBackend;
}

namespace orv::ui {

// TForm3: the restore folder, picked from the file system; Save keeps it in "SaveDir".
class TForm3 final : public QDialog
{
    Q_OBJECT
public:
    TForm3(const LanguageCatalogue& texts, SettingsBackend& settings, std::string& restoreFolder);
    QLineEdit* FolderEdit() const { return m_folder; }
    // Save: the folder in the field becomes the restore folder, for this run and the next.
    void save();
    // The folder picker, opened at the folder in the field; a folder it returns goes into the field.
    void browse();

private:
    SettingsBackend& m_settings;
    std::string& m_restoreFolder;
    QLineEdit* m_folder;
    QString m_pickerTitle;
};

// TForm5a: the program's name and version, and its four addresses opened by the desktop.
class TForm5a final : public QDialog
{
    Q_OBJECT
public:
    TForm5a(const LanguageCatalogue& texts, std::function<void(const QUrl&)> openUrl);
    static QStringList addresses();
};

} // namespace orv::ui
