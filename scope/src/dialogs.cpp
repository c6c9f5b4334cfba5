#include "scope/dialogs.h"

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

} // namespace

void SetInformationBox(InformationBox box) {
    Box() = box ? std::move(box) : InformationBox(RealInformationBox);
}

void ShowInformation(QWidget* parent, const QString& text) {
    Box()(parent, text);
}

InformationRecorder::InformationRecorder() {
    SetInformationBox([this](QWidget*, const QString& text) { texts_ << text; });
}

InformationRecorder::~InformationRecorder() {
    SetInformationBox({});
}

} // namespace scope
