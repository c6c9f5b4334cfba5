// The channel, setter and trigger controls of the scope window: the variable tree, the name
// boxes and what they accept, drag and drop from the tree, and the setters that write an MC
// variable from a track bar.
#include "acquisition/channel_name.h"
#include "foundation/clock.h"
#include "foundation/text.h"
#include "mcu/vartable.h"
#include "panels/channel_panel.h"
#include "panels/setter_panel.h"
#include "panels/trace_panel.h"
#include "panels/trigger_panel.h"
#include "panels/xvar_panel.h"
#include "scope/dialogs.h"
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

// The type a resolved text reads: a type written after ":" as the resolution gives it, else
// the table's type of a whole variable (a bit is a bit, whatever its byte's type).
mcu::VarType ChannelType(const acq::ResolvedChannel& resolved, const std::string& text) {
    if (text.find(':') != std::string::npos || resolved.variable == nullptr || resolved.mask != 0) {
        return resolved.type;
    }
    return resolved.type != mcu::VarType::U8 ? resolved.type : resolved.variable->type;
}

// The variable a channel text names when the link cannot read it: the name before a type, a
// bit or an index suffix.
const mcu::MCVar* UnreadableVariable(const acq::VariableTable& table, const std::string& text) {
    std::string base = text.substr(0, text.find(':'));
    const mcu::MCVar* whole = table.Find(base);
    if (whole == nullptr) {
        acq::ChannelName parts;
        if (!acq::SplitChannelName(base, parts)) {
            return nullptr;
        }
        whole = table.Find(parts.base);
    }
    return whole != nullptr && !whole->reachable ? whole : nullptr;
}

} // namespace

TComboBox* ScopeWindow::ChannelBox(int index) const {
    if (index == 0) {
        return xPanel_->NameBox();
    }
    return index >= 1 && index <= 3 ? channelPanels_[static_cast<std::size_t>(index)]->NameBox()
                                    : nullptr;
}

int ScopeWindow::ChannelIndexOf(const QObject* box) const {
    for (int i = 0; i <= 3; ++i) {
        if (box == ChannelBox(i)) {
            return i;
        }
    }
    return -1;
}

void ScopeWindow::FillVariableTree() {
    tree_->clear();
    const mcu::MCVar* userRamVar = variables_.Find("USERRAM");
    const std::uint8_t userRam =
        userRamVar != nullptr ? static_cast<std::uint8_t>(userRamVar->address & 0xFF) : 0;
    std::array<std::vector<const mcu::MCVar*>, 4> vars;
    for (const mcu::MCVar& var : variables_.Vars()) {
        if (var.linkKeyword) {
            continue;
        }
        const bool bit = var.bitMask != 0 || var.space == mcu::MemSpace::Bit ||
                         var.space == mcu::MemSpace::SfrBit;
        const int category = (mcu::FiledAsSfr(var, userRam) ? 0 : 2) + (bit ? 0 : 1);
        vars[static_cast<std::size_t>(category)].push_back(&var);
    }
    for (int category = 0; category < 4; ++category) {
        auto* node = new QTreeWidgetItem(tree_, QStringList{kCategories[category]});
        auto& list = vars[static_cast<std::size_t>(category)];
        std::stable_sort(list.begin(), list.end(), [](const mcu::MCVar* a, const mcu::MCVar* b) {
            return LessIgnoringCase(a->name, b->name);
        });
        for (const mcu::MCVar* var : list) {
            auto* item = new QTreeWidgetItem(node, QStringList{QString::fromStdString(var->name)});
            item->setToolTip(0, QString::fromStdString(VariableTip(*var)));
            if (!var->reachable) {
                item->setForeground(0, QColor::fromRgba(kGridColour));
            }
        }
    }
    QTreeWidgetItem* userBytes = tree_->topLevelItem(3);
    userBytes->setExpanded(true);
    for (int i = 0; i < userBytes->childCount(); ++i) {
        userBytes->child(i)->setExpanded(true);
    }
}

void ScopeWindow::ConfigureSetters() {
    setterPanels_[1]->hide();
    setterPanels_[2]->hide();
    xCapable_ = false;
    int skipped = 0;
    if (variables_.Find("COM_VARX") != nullptr) {
        xCapable_ = true;
    } else {
        // Without the MC's x support the x-variable is not offered at all.
        xPanel_->hide();
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
        SetComboText(setterPanels_[1]->NameBox(), var.name);
        setterPanels_[1]->show();
        if (end - begin > skipped + 1) {
            SetComboText(setterPanels_[2]->NameBox(), var.name);
            setterPanels_[2]->show();
        }
    }
}

void ScopeWindow::SetComboText(TComboBox* box, const std::string& text) {
    box->SetText(text);
    if (box->Items().IndexOf(text) < 0) {
        box->Items().Add(text);
    }
}

void ScopeWindow::PruneComboItems(TComboBox* box) {
    // A type after the name ("TICKS:I16") keeps the name defined.
    const auto defined = [this](const std::string& text) {
        return variables_.Defined(text.substr(0, text.find(':')));
    };
    if (!defined(box->Text())) {
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
        if (!defined(box->Items().Get(i))) {
            box->Items().Delete(i);
        }
    }
}

void ScopeWindow::PaintSilver(TComboBox* box, bool silver) {
    QPalette p = box->palette();
    p.setColor(QPalette::Base,
               silver ? QColor::fromRgba(kSilver) : QApplication::palette().color(QPalette::Base));
    box->setPalette(p);
}

void ScopeWindow::ClearXYTimes() {
    Post(acq::ClearSlots{});
}

void ScopeWindow::SelectChannelVariable(TComboBox* box, int index) {
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
        const mcu::MCVar* unreadable = UnreadableVariable(variables_, channelName);
        NoticeChannelText(box, unreadable != nullptr ? VariableTip(*unreadable) : std::string());
        return;
    }
    if (resolved.variable != nullptr) {
        SetComboText(box, channelName);
    }
    PaintSilver(box, false);
    // Streaming and x-y mode read the x-variable as a byte, whatever its type.
    const mcu::VarType asked = ChannelType(resolved, channelName);
    const mcu::VarType type = index == 0 ? mcu::VarType::U8 : asked;
    NoticeChannelText(box, index == 0 && DrawnTyped(asked, resolved.mask)
                               ? XVariableNotice(channelName, asked)
                               : std::string());
    channel.type = type;
    channel.scale.Reset(type, resolved.mask,
                        ConversionRange(type, ConversionOf(resolved.variable, resolved.mask)));
    channel.resolved = true;
    channel.active = 1;
    channel.name = channelName;
    channel.address = resolved.address;
    channel.mask = resolved.mask;
    // The engine restarts the sweep and the channel, and empties the x-y slots in x-y mode;
    // the window clears the channel's statistics when the batch that follows says so.
    Post(acq::UseVariable{index, channel.address, channel.mask, type});
}

void ScopeWindow::NoticeChannelText(TComboBox* box, const std::string& notice) {
    box->setToolTip(QString::fromStdString(notice));
    if (notice.empty() || box->Text() == lastNotice_) {
        return;
    }
    lastNotice_ = box->Text();
    ShowInformation(this, QString::fromStdString(notice));
}

void ScopeWindow::OnChange(QObject* sender) {
    if (sender == ChannelBox(1)) {
        SelectChannelVariable(ChannelBox(1), 1);
    } else if (sender == ChannelBox(2) || sender == ChannelBox(3)) {
        auto* box = static_cast<TComboBox*>(sender);
        SelectChannelVariable(box, ChannelIndexOf(box));
        if (!box->Text().empty()) {
            channelPanels_[static_cast<std::size_t>(ChannelIndexOf(box))]->OnBox()->SetChecked(
                true);
        }
    } else if (sender == ChannelBox(0)) {
        SelectChannelVariable(ChannelBox(0), 0);
        if (!ChannelBox(0)->Text().empty()) {
            xPanel_->OnBox()->SetChecked(true);
        }
    }
    // TriggerName: the engine looks the trigger variable up at every test of the trigger.
}

void ScopeWindow::OnClick(QObject* sender) {
    for (int i = 1; i <= 3; ++i) {
        const TCheckBox* binary = channelPanels_[static_cast<std::size_t>(i)]->BinBox();
        if (sender == binary) {
            TChannel& c = channels_[static_cast<std::size_t>(i)];
            c.binary = binary->Checked() ? 1 : 0;
            c.restart = 1;
            return;
        }
    }
    if (sender == channelPanels_[2]->OnBox() || sender == channelPanels_[3]->OnBox()) {
        auto* box = static_cast<TCheckBox*>(sender);
        const int index = box == channelPanels_[2]->OnBox() ? 2 : 3;
        SetChannelActive(index, box->Checked());
        if (box->Checked()) {
            SelectChannelVariable(ChannelBox(index), index);
        }
    } else if (sender == xPanel_->OnBox()) {
        SetChannelActive(0, xPanel_->OnBox()->Checked());
        if (xPanel_->OnBox()->Checked()) {
            SelectChannelVariable(ChannelBox(0), 0);
            ClearXYTimes();
        }
    } else if (sender == xPanel_->RecentOnlyBox()) {
        // What the x-y redraws leave out, which also decides when a single sweep stops there.
        Post(acq::RecentOnly{xPanel_->RecentOnlyBox()->Checked()});
    }
}

bool ScopeWindow::OnDragOver(QObject* target, bool fromTree) const {
    const bool nameBox = ChannelIndexOf(target) >= 0 || target == triggerPanel_->NameBox();
    return nameBox && fromTree;
}

void ScopeWindow::OnDragDrop(QObject* target, const QString& nodeText) {
    if (target == triggerPanel_->NameBox()) {
        triggerPanel_->NameBox()->SetTextQ(nodeText);
        return;
    }
    const int index = ChannelIndexOf(target);
    if (index < 0) {
        return;
    }
    TComboBox* box = ChannelBox(index);
    box->SetTextQ(nodeText);
    SelectChannelVariable(box, index);
    if (index == 0) {
        xPanel_->OnBox()->SetChecked(true);
    } else if (index != 1) {
        channelPanels_[static_cast<std::size_t>(index)]->OnBox()->SetChecked(true);
    }
}

// --- setters and trigger ------------------------------------------------------------------------

void ScopeWindow::OnSetterSelected(QObject* sender) {
    if (sender == setterPanels_[1]->CheckBox() || sender == setterPanels_[2]->CheckBox()) {
        const int setter = sender == setterPanels_[1]->CheckBox() ? 1 : 2;
        auto* check = static_cast<TCheckBox*>(sender);
        TComboBox* name = setterPanels_[static_cast<std::size_t>(setter)]->NameBox();
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
    } else if (sender == triggerPanel_->CheckBox()) {
        // Unchecking always disarms, whatever the name box shows by now: a trigger armed on a
        // name that was then cleared would otherwise hold the acquisition for ever.
        Post(acq::ArmTrigger{false});
        if (!triggerPanel_->CheckBox()->Checked()) {
            Post(acq::RestartChannels{});
        } else if (triggerPanel_->NameBox()->Text().empty()) {
            triggerPanel_->CheckBox()->SetChecked(false);
        } else {
            Post(acq::ArmTrigger{true});
            // A triggered sweep is a single sweep.
            SweepModeClick(true);
            singleButton_->setChecked(true);
        }
    }
    // A new setter name takes effect at the next click of the setter's check box.
}

void ScopeWindow::SelectSetterVariable(TComboBox* box, int setter) {
    TSetter& s = setters_[static_cast<std::size_t>(setter)];
    // A setter counts as selected only once its variable could be read; a name the
    // application does not define cannot be.
    const mcu::MCVar* var = variables_.Find(box->Text());
    if (var == nullptr || !var->reachable) {
        s.selected = 0;
        s.name.clear();
        return;
    }
    s.readingName = box->Text();
    s.type = var->bitMask != 0 ? mcu::VarType::U8 : var->type;
    s.reading = Post(acq::SelectSetter{setter, var->address, s.type});
}

namespace {

// A byte setter shows and writes the byte as ever; a typed one its value in its type.
bool SetterTyped(const TSetter& s) {
    return DrawnTyped(s.type, 0);
}

} // namespace

void ScopeWindow::ShowSetterAnswer(const acq::SetterAnswer& answer) {
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
        s.typed = SetterTyped(s) ? answer.typed : answer.value;
        s.span = SetterSpan(s.type, s.typed);
        // Moving the bar to another position writes the value just read back once.
        SetterPanel* panel = setterPanels_[static_cast<std::size_t>(answer.setter)];
        panel->SetSpan(s.span);
        panel->MoveBar(s.span.Position(s.typed));
        panel->ShowValue(QString::fromStdString(TypedText(s.typed, s.type)));
        return;
    }
    if (answer.ok) {
        s.value = answer.value;
        s.typed = SetterTyped(s) ? answer.typed : answer.value;
    }
    SetterPanel* panel = setterPanels_[static_cast<std::size_t>(answer.setter)];
    panel->ShowValue(QString::fromStdString(TypedText(s.typed, s.type)));
    // After the last write asked for failed, the bar goes back to the last value the MC took;
    // going back is not a new request. While newer writes wait, the bar stays where the user
    // put it.
    if (answer.command == s.writing) {
        panel->PutBarBack(s.span.Position(s.typed));
    }
}

void ScopeWindow::OnSetterChange(int setter, int position) {
    TSetter& s = setters_[static_cast<std::size_t>(setter)];
    if (s.selected == 0 || s.reading != 0) {
        return;
    }
    // Not the name box's text: another name typed or loaded there since the click must not
    // receive a value that was meant for this variable. A newer position replaces one the
    // engine has not written yet.
    const double typed = s.span.Value(position);
    const auto lowest = static_cast<std::uint8_t>(
        static_cast<std::uint64_t>(static_cast<std::int64_t>(std::llround(typed))) & 0xFF);
    s.writing = Post(SetterTyped(s) ? acq::SetterValue{setter, s.name, lowest, s.type, typed}
                                    : acq::SetterValue{setter, s.name, lowest});
}

void ScopeWindow::WatchEngineInputs() {
    // The engine tests the trigger against what these two show at every test, and takes a
    // lost link up again into a running acquisition only while channel 1's box holds a name.
    const auto triggerName = [this] {
        const std::string name = triggerPanel_->NameBox()->Text();
        // The level is set in the trigger variable's own values, in the type the name gives
        // it (SPEED, $25:i16) as the engine reads it.
        acq::ResolvedChannel resolved;
        const mcu::VarType type = acq::ResolveChannelName(variables_, UpperCase(name), resolved) &&
                                          DrawnTyped(resolved.type, resolved.mask)
                                      ? resolved.type
                                      : mcu::VarType::U8;
        triggerPanel_->SetSpan(SetterSpan(type, 0), type);
        Post(acq::TriggerName{name});
    };
    const auto triggerLevel = [this] { Post(acq::TriggerLevel{triggerPanel_->Level()}); };
    const auto channelOne = [this] {
        Post(acq::ChannelOneNamed{!ChannelBox(1)->TextQ().isEmpty()});
    };
    connect(triggerPanel_->NameBox()->lineEdit(), &QLineEdit::textChanged, this, triggerName);
    connect(triggerPanel_, &TriggerPanel::LevelChanged, this, triggerLevel);
    connect(ChannelBox(1)->lineEdit(), &QLineEdit::textChanged, this, channelOne);
    triggerName();
    triggerLevel();
    channelOne();
    Post(acq::RecentOnly{xPanel_->RecentOnlyBox()->Checked()});
}

// --- drag and drop onto the name boxes -------------------------------------------------------

bool ScopeWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == trace_) {
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
