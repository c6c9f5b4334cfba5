// The channel, setter and trigger controls of the scope window: the variable tree, the name
// boxes and what they accept, drag and drop from the tree, and the setters that write an MC
// variable from a track bar.
#include "acquisition/channel_name.h"
#include "foundation/clock.h"
#include "foundation/text.h"
#include "scope/scope_window.h"

#include <QApplication>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidgetItem>

#include <algorithm>
#include <cctype>

namespace scope {

namespace {

const char* const kCategories[4] = {"SFR bits", "SFR bytes", "USER bits", "USER bytes"};

bool LessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) <
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string UpperCase(std::string text) {
    foundation::UpperCaseText(text);
    return text;
}

} // namespace

TComboBox* TForm1::ChannelBox(int index) const {
    switch (index) {
    case 0:
        return VarNameX;
    case 1:
        return VarName1;
    case 2:
        return VarName2;
    case 3:
        return VarName3;
    default:
        return nullptr;
    }
}

int TForm1::ChannelIndexOf(const QObject* box) const {
    for (int i = 0; i <= 3; ++i) {
        if (box == ChannelBox(i)) {
            return i;
        }
    }
    return -1;
}

void TForm1::FillVariableTree() {
    TreeView1->clear();
    const mcu::MCVar* userRamVar = variables_.Find("USERRAM");
    const std::uint8_t userRam =
        userRamVar != nullptr ? static_cast<std::uint8_t>(userRamVar->address & 0xFF) : 0;
    std::array<std::vector<std::string>, 4> names;
    for (const mcu::MCVar& var : variables_.Vars()) {
        if (var.linkKeyword) {
            continue;
        }
        const std::uint16_t a = var.address;
        const bool special = (a < 0x200 && (a & 0xFF) < userRam) || a > 0xF00;
        const int category = (special ? 0 : 2) + (var.bitMask != 0 ? 0 : 1);
        names[static_cast<std::size_t>(category)].push_back(var.name);
    }
    for (int category = 0; category < 4; ++category) {
        auto* node = new QTreeWidgetItem(TreeView1, QStringList{kCategories[category]});
        auto& list = names[static_cast<std::size_t>(category)];
        std::stable_sort(list.begin(), list.end(), LessIgnoringCase);
        for (const std::string& name : list) {
            new QTreeWidgetItem(node, QStringList{QString::fromStdString(name)});
        }
    }
    QTreeWidgetItem* userBytes = TreeView1->topLevelItem(3);
    userBytes->setExpanded(true);
    for (int i = 0; i < userBytes->childCount(); ++i) {
        userBytes->child(i)->setExpanded(true);
    }
}

void TForm1::ConfigureSetters() {
    SetterPanel1->hide();
    SetterPanel2->hide();
    xCapable_ = false;
    int skipped = 0;
    if (variables_.Find("COM_VARX") != nullptr) {
        xCapable_ = true;
    } else {
        // Without the MC's x support the x-variable is not offered at all.
        XPanel->hide();
    }
    const mcu::MCVar* beginVar = variables_.Find("COMSET_VAR_BEG");
    const mcu::MCVar* endVar = variables_.Find("COMSET_VAR_END");
    if (beginVar == nullptr || endVar == nullptr) {
        return;
    }
    const auto begin = static_cast<std::uint8_t>(beginVar->address & 0xFF);
    const auto end = static_cast<std::uint8_t>(endVar->address & 0xFF);
    for (const mcu::MCVar& var : variables_.Vars()) {
        if (var.bitMask != 0 || var.address < begin || var.address >= end) {
            continue;
        }
        if (var.name == "COM_VARX") {
            ++skipped;
            continue;
        }
        if (var.name == "COMSET_VAR_BEG" || var.name == "COMSET_VAR_END" || var.name == "USERRAM") {
            continue;
        }
        SetComboText(SetterName1, var.name);
        SetterPanel1->show();
        if (end - begin > skipped + 1) {
            SetComboText(SetterName2, var.name);
            SetterPanel2->show();
        }
    }
}

void TForm1::SetComboText(TComboBox* box, const std::string& text) {
    box->SetText(text);
    if (box->Items().IndexOf(text) < 0) {
        box->Items().Add(text);
    }
}

void TForm1::PruneComboItems(TComboBox* box) {
    if (!variables_.Defined(box->Text())) {
        box->SetText("");
        // A bare address resolved while loading is wiped here too; the channel must not go on
        // reading what the box no longer shows.
        const int index = ChannelIndexOf(box);
        if (index >= 0) {
            DropChannelVariable(index);
        }
    }
    // From the end, so that an entry right after a removed one is looked at too.
    for (int i = box->Items().Count() - 1; i >= 0; --i) {
        if (!variables_.Defined(box->Items().Get(i))) {
            box->Items().Delete(i);
        }
    }
}

void TForm1::PaintSilver(TComboBox* box, bool silver) {
    QPalette p = box->palette();
    p.setColor(QPalette::Base,
               silver ? QColor::fromRgba(kSilver) : QApplication::palette().color(QPalette::Base));
    box->setPalette(p);
}

void TForm1::ClearXYTimes() {
    Post(acq::ClearSlots{});
}

void TForm1::SelectChannelVariable(TComboBox* box, int index) {
    TChannel& channel = channels_[static_cast<std::size_t>(index)];
    if (box->Text().empty()) {
        DropChannelVariable(index);
        SetChannelActive(index, false);
        return;
    }
    const std::string channelName = UpperCase(box->Text());
    // Silver stays when any step below refuses the text; the record is then left as it was.
    PaintSilver(box, true);
    acq::ResolvedChannel resolved;
    if (!acq::ResolveChannelName(variables_, channelName, resolved)) {
        return;
    }
    if (resolved.variable != nullptr) {
        SetComboText(box, channelName);
    }
    PaintSilver(box, false);
    channel.resolved = true;
    channel.active = 1;
    channel.name = channelName;
    channel.address = resolved.address;
    channel.mask = resolved.mask;
    // The engine restarts the sweep and the channel, and empties the x-y slots in x-y mode;
    // the window clears the channel's statistics when the batch that follows says so.
    Post(acq::UseVariable{index, channel.address, channel.mask});
}

void TForm1::OnChange(QObject* sender) {
    if (sender == VarName1) {
        SelectChannelVariable(VarName1, 1);
    } else if (sender == VarName2 || sender == VarName3) {
        auto* box = static_cast<TComboBox*>(sender);
        SelectChannelVariable(box, ChannelIndexOf(box));
        if (!box->Text().empty()) {
            (box == VarName2 ? VarSelected2 : VarSelected3)->SetChecked(true);
        }
    } else if (sender == VarNameX) {
        SelectChannelVariable(VarNameX, 0);
        if (!VarNameX->Text().empty()) {
            VarSelectedX->SetChecked(true);
        }
    }
    // TriggerName: the engine looks the trigger variable up at every test of the trigger.
}

void TForm1::OnClick(QObject* sender) {
    const std::array<TCheckBox*, 4> binary = {nullptr, DisplayBin1, DisplayBin2, DisplayBin3};
    for (int i = 1; i <= 3; ++i) {
        if (sender == binary[static_cast<std::size_t>(i)]) {
            TChannel& c = channels_[static_cast<std::size_t>(i)];
            c.binary = binary[static_cast<std::size_t>(i)]->Checked() ? 1 : 0;
            c.restart = 1;
            return;
        }
    }
    if (sender == VarSelected2 || sender == VarSelected3) {
        auto* box = static_cast<TCheckBox*>(sender);
        const int index = box == VarSelected2 ? 2 : 3;
        SetChannelActive(index, box->Checked());
        if (box->Checked()) {
            SelectChannelVariable(ChannelBox(index), index);
        }
    } else if (sender == VarSelectedX) {
        SetChannelActive(0, VarSelectedX->Checked());
        if (VarSelectedX->Checked()) {
            SelectChannelVariable(VarNameX, 0);
            ClearXYTimes();
        }
    } else if (sender == NoHisSelected) {
        // What the x-y redraws leave out, which also decides when a single sweep stops there.
        Post(acq::RecentOnly{NoHisSelected->Checked()});
    }
}

bool TForm1::OnDragOver(QObject* target, bool fromTree) const {
    const bool nameBox = ChannelIndexOf(target) >= 0 || target == TriggerName;
    return nameBox && fromTree;
}

void TForm1::OnDragDrop(QObject* target, const QString& nodeText) {
    if (target == TriggerName) {
        TriggerName->SetTextQ(nodeText);
        return;
    }
    const int index = ChannelIndexOf(target);
    if (index < 0) {
        return;
    }
    TComboBox* box = ChannelBox(index);
    box->SetTextQ(nodeText);
    SelectChannelVariable(box, index);
    if (index == 2) {
        VarSelected2->SetChecked(true);
    } else if (index == 3) {
        VarSelected3->SetChecked(true);
    } else if (index == 0) {
        VarSelectedX->SetChecked(true);
    }
}

// --- setters and trigger ------------------------------------------------------------------------

QSlider* TForm1::SetterBar(int setter) const {
    return setter == 1 ? SetterTrackBar1 : SetterTrackBar2;
}

QLineEdit* TForm1::SetterEdit(int setter) const {
    return setter == 1 ? SetterVal1 : SetterVal2;
}

void TForm1::OnSetterSelected(QObject* sender) {
    if (sender == SetterSelected1 || sender == SetterSelected2) {
        const int setter = sender == SetterSelected1 ? 1 : 2;
        auto* check = static_cast<TCheckBox*>(sender);
        TComboBox* name = setter == 1 ? SetterName1 : SetterName2;
        if (name->Text().empty()) {
            check->SetChecked(false);
            return;
        }
        TSetter& s = setters_[static_cast<std::size_t>(setter)];
        s.selected = check->Checked() ? 1 : 0;
        s.reading = 0;
        if (check->Checked()) {
            SelectSetterVariable(name, setter);
        }
    } else if (sender == TriggerSelected) {
        // Unchecking always disarms, whatever the name box shows by now: a trigger armed on a
        // name that was then cleared would otherwise hold the acquisition for ever.
        Post(acq::ArmTrigger{false});
        if (!TriggerSelected->Checked()) {
            Post(acq::RestartChannels{});
        } else if (TriggerName->Text().empty()) {
            TriggerSelected->SetChecked(false);
        } else {
            Post(acq::ArmTrigger{true});
            // A triggered sweep is a single sweep.
            SpeedButtonSingleClick();
            SpeedButtonSingle->setChecked(true);
        }
    }
    // A new setter name takes effect at the next click of the setter's check box.
}

void TForm1::SelectSetterVariable(TComboBox* box, int setter) {
    TSetter& s = setters_[static_cast<std::size_t>(setter)];
    // A setter counts as selected only once its variable could be read; a name the
    // application does not define cannot be.
    const mcu::MCVar* var = variables_.Find(box->Text());
    if (var == nullptr) {
        s.selected = 0;
        s.name.clear();
        return;
    }
    s.readingName = box->Text();
    s.reading = Post(acq::SelectSetter{setter, var->address});
}

void TForm1::MoveSetterBar(int setter, std::uint8_t value) {
    snappingBack_ = true;
    SetterBar(setter)->setValue(value);
    snappingBack_ = false;
}

void TForm1::ShowSetterAnswer(const acq::SetterAnswer& answer) {
    TSetter& s = setters_[static_cast<std::size_t>(answer.setter)];
    if (!answer.write) {
        // Only the read of the setter's last click counts; a click since then asked anew.
        if (s.reading != answer.command) {
            return;
        }
        s.reading = 0;
        if (!answer.ok) {
            s.selected = 0;
            s.name.clear();
            return;
        }
        s.name = s.readingName;
        s.value = answer.value;
        // Moving the bar to another position writes the value just read back once.
        SetterBar(answer.setter)->setValue(answer.value);
        SetterEdit(answer.setter)->setText(QString::number(answer.value));
        return;
    }
    if (answer.ok) {
        s.value = answer.value;
    }
    SetterEdit(answer.setter)->setText(QString::number(s.value));
    // After the last write asked for failed, the bar goes back to the last value the MC took;
    // going back is not a new request. While newer writes wait, the bar stays where the user
    // put it.
    if (answer.command == s.writing) {
        MoveSetterBar(answer.setter, s.value);
    }
}

void TForm1::OnSetterChange(QObject* sender) {
    if (sender == TriggerTrackBar) {
        TriggerVal->setText(QString::number(TriggerTrackBar->value()));
        return;
    }
    if (snappingBack_ || (sender != SetterTrackBar1 && sender != SetterTrackBar2)) {
        return;
    }
    const int setter = sender == SetterTrackBar1 ? 1 : 2;
    TSetter& s = setters_[static_cast<std::size_t>(setter)];
    if (s.selected == 0 || s.reading != 0) {
        return;
    }
    const auto position = static_cast<std::uint8_t>(SetterBar(setter)->value());
    // Not the name box's text: another name typed or loaded there since the click must not
    // receive a value that was meant for this variable. A newer position replaces one the
    // engine has not written yet.
    s.writing = Post(acq::SetterValue{setter, s.name, position});
}

void TForm1::WatchEngineInputs() {
    // The engine tests the trigger against what these two show at every test, and takes a
    // lost link up again into a running acquisition only while channel 1's box holds a name.
    const auto triggerName = [this] { Post(acq::TriggerName{TriggerName->Text()}); };
    const auto triggerLevel = [this] { Post(acq::TriggerLevel{TriggerVal->text().toStdString()}); };
    const auto channelOne = [this] { Post(acq::ChannelOneNamed{!VarName1->TextQ().isEmpty()}); };
    connect(TriggerName->lineEdit(), &QLineEdit::textChanged, this, triggerName);
    connect(TriggerVal, &QLineEdit::textChanged, this, triggerLevel);
    connect(VarName1->lineEdit(), &QLineEdit::textChanged, this, channelOne);
    triggerName();
    triggerLevel();
    channelOne();
    Post(acq::RecentOnly{NoHisSelected->Checked()});
}

// --- drag and drop onto the name boxes -------------------------------------------------------

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == PaintBox1) {
        return PaintBoxInput(event) || QWidget::eventFilter(watched, event);
    }
    const auto type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
        return QWidget::eventFilter(watched, event);
    }
    QObject* target = qobject_cast<TComboBox*>(watched) != nullptr ? watched : watched->parent();
    auto* drop = static_cast<QDropEvent*>(event);
    const QMimeData* data = drop->mimeData();
    const bool fromTree = data != nullptr && data->hasFormat(TTreeView::kNodeMimeType);
    if (!OnDragOver(target, fromTree)) {
        drop->ignore();
        return true;
    }
    if (type == QEvent::Drop) {
        OnDragDrop(target, QString::fromUtf8(data->data(TTreeView::kNodeMimeType)));
    }
    drop->acceptProposedAction();
    return true;
}

} // namespace scope
