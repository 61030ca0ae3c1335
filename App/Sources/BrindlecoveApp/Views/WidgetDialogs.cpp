#include "BrindlecoveApp/Views/WidgetDialogs.hpp"

#include "BrindlecoveApp/Platform/PanelFolder.hpp"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QPointer>

namespace brindlecove {

Dialogs widgetDialogs(QWidget* parent) {
    QPointer<QWidget> owner(parent);
    Dialogs dialogs;
    dialogs.chooseFolder = [owner](const FolderRequest& request) -> std::optional<QString> {
        QFileDialog panel(owner ? owner.data() : QApplication::activeWindow(), request.message);
        panel.setFileMode(QFileDialog::Directory);
        panel.setOption(QFileDialog::ShowDirsOnly, true);
        // Portal and GTK dialogs ignore the accept label; ours shows the prompt and the message.
        panel.setOption(QFileDialog::DontUseNativeDialog, true);
        panel.setOption(QFileDialog::ReadOnly, !request.canCreateFolders);
        panel.setLabelText(QFileDialog::Accept, request.prompt);
        panel.setDirectory(PanelFolder::orHome(request.startFolder));
        if (panel.exec() != QDialog::Accepted) return std::nullopt;
        QStringList chosen = panel.selectedFiles();
        if (chosen.isEmpty()) return std::nullopt;
        return chosen.front();
    };
    dialogs.confirm = [owner](const Confirmation& question) {
        QMessageBox box(owner ? owner.data() : QApplication::activeWindow());
        box.setIcon(QMessageBox::Warning);
        box.setWindowTitle(question.title);
        box.setText(question.title);
        box.setInformativeText(question.message);
        QPushButton* action = box.addButton(
            question.actionText, question.destructive ? QMessageBox::DestructiveRole : QMessageBox::AcceptRole);
        if (question.noticeOnly) {
            box.setIcon(QMessageBox::Information);
            box.setDefaultButton(action);
        } else {
            box.addButton(QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Cancel);
        }
        box.exec();
        return box.clickedButton() == static_cast<QAbstractButton*>(action);
    };
    dialogs.saveFile = [owner](const SaveRequest& request) -> std::optional<QString> {
        QFileDialog panel(owner ? owner.data() : QApplication::activeWindow());
        panel.setAcceptMode(QFileDialog::AcceptSave);
        panel.setFileMode(QFileDialog::AnyFile);
        panel.setOption(QFileDialog::DontUseNativeDialog, true);
        panel.setLabelText(QFileDialog::Accept, request.prompt);
        panel.setDirectory(PanelFolder::orHome(request.startFolder));
        panel.selectFile(request.suggestedName);
        if (panel.exec() != QDialog::Accepted) return std::nullopt;
        QStringList chosen = panel.selectedFiles();
        if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
        return chosen.front();
    };
    return dialogs;
}

}  // namespace brindlecove
