#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "shell/LanguageCatalogue.h"
#include "shell/ui/MessageDialogs.h"

class QCheckBox;
class QLineEdit;
class QUrl;

namespace orv {
class SettingsBackend;
}

namespace orv::ui {

// TForm3: the restore folder, picked from the file system; Save keeps it in "SaveDir". The field
// shows the folder in use each time the dialog opens, so a pick that was not saved is forgotten.
class TForm3 final : public SkinDialog
{
    Q_OBJECT
public:
    TForm3(const LanguageCatalogue& texts, std::int32_t languageIndex, SettingsBackend& settings,
           std::string& restoreFolder);
    QLineEdit* FolderEdit() const { return m_folder; }
    // Save: the folder in the field becomes the restore folder, for this run and the next.
    void save();
    // The folder picker, opened at the folder in the field; a folder it returns goes into the field.
    void browse();

protected:
    void showEvent(QShowEvent* event) override;

private:
    SettingsBackend& m_settings;
    std::string& m_restoreFolder;
    QLabel* m_prompt;
    QLineEdit* m_folder;
    QCheckBox* m_streams = nullptr; // restore named streams beside their files
};

// TForm5a: the program's name and version, and its four addresses opened by the desktop. A link
// leaves the dialog open.
class TForm5a final : public SkinDialog
{
    Q_OBJECT
public:
    TForm5a(const LanguageCatalogue& texts, std::function<void(const QUrl&)> openUrl);
    static QStringList addresses();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(const QUrl&)> m_openUrl;
    std::array<QLabel*, 4> m_links{};
};

} // namespace orv::ui
