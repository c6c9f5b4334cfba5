#include "scope/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace scope {

namespace {

void RealInformationBox(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, kBoxTitle, text, QMessageBox::Ok);
}

InformationBox& Box() {
    static InformationBox box = RealInformationBox;
    return box;
}

QString RealFileDialog(QWidget* parent, const FileDialogRequest& request) {
    QFileDialog dialog(parent, request.title, request.folder, request.filter);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

FileDialog& Dialog() {
    static FileDialog dialog = RealFileDialog;
    return dialog;
}

} // namespace

void SetInformationBox(InformationBox box) {
    Box() = box ? std::move(box) : InformationBox(RealInformationBox);
}

void ShowInformation(QWidget* parent, const QString& text) {
    Box()(parent, text);
}

void SetFileDialog(FileDialog dialog) {
    Dialog() = dialog ? std::move(dialog) : FileDialog(RealFileDialog);
}

QString ShowFileDialog(QWidget* parent, const FileDialogRequest& request) {
    return Dialog()(parent, request);
}

FileDialogScript::FileDialogScript() {
    SetFileDialog([this](QWidget*, const FileDialogRequest& request) {
        requests_ << request;
        return answer_;
    });
}

FileDialogScript::~FileDialogScript() {
    SetFileDialog({});
}

InformationRecorder::InformationRecorder() {
    SetInformationBox([this](QWidget*, const QString& text) { texts_ << text; });
}

InformationRecorder::~InformationRecorder() {
    SetInformationBox({});
}

} // namespace scope
