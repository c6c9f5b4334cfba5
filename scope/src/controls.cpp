#include "scope/controls.h"

#include <QLineEdit>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

#include <stdexcept>

namespace scope {

using namespace persistence;

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// Object properties are assigned into the part the control owns; a control's font or list is
// never replaced.
template <class Part> void AssignInto(Part& part, TObject* value) {
    if (value != nullptr) {
        part.Assign(static_cast<TPersistent&>(*value));
    }
}

template <class C> void PublishControlParts(TPublisher<C>& p) {
    p.Object(
         "Constraints", TSizeConstraints::StaticClass(),
         [](C& c) -> TObject* { return &c.Constraints(); },
         [](C& c, TObject* v) { AssignInto(c.Constraints(), v); })
        .Boolean(
            "Enabled", [](C& c) { return c.isEnabled(); }, [](C& c, bool v) { c.setEnabled(v); })
        .Object(
            "Font", TFont::StaticClass(), [](C& c) -> TObject* { return &c.Font(); },
            [](C& c, TObject* v) { AssignInto(c.Font(), v); });
}

void CheckIndex(int index, int limit) {
    if (index < 0 || index > limit) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    }
}

} // namespace

// --- TComboItems ---------------------------------------------------------------------------

int TComboItems::Count() const {
    return box_.count();
}

std::string TComboItems::Get(int index) const {
    CheckIndex(index, Count() - 1);
    return box_.itemText(index).toStdString();
}

void TComboItems::Put(int index, const std::string& text) {
    CheckIndex(index, Count() - 1);
    box_.KeepingText([&] {
        if (box_.Sorted()) {
            box_.removeItem(index);
            box_.insertItem(box_.SortedPosition(Q(text)), Q(text));
        } else {
            box_.setItemText(index, Q(text));
        }
    });
}

void TComboItems::Insert(int index, const std::string& text) {
    CheckIndex(index, Count());
    box_.KeepingText(
        [&] { box_.insertItem(box_.Sorted() ? box_.SortedPosition(Q(text)) : index, Q(text)); });
}

void TComboItems::Delete(int index) {
    CheckIndex(index, Count() - 1);
    box_.KeepingText([&] { box_.removeItem(index); });
}

void TComboItems::Clear() {
    box_.KeepingText([&] { box_.clear(); });
}

// --- TComboBox -----------------------------------------------------------------------------

const TClass& TComboBox::StaticClass() {
    static const TClass cls("TComboBox", &TComponent::StaticClass(), [](TClass& c) {
        using C = TComboBox;
        TPublisher<C> p(c);
        p.Integer(
             "DropDownCount", [](C& x) { return x.maxVisibleItems(); },
             [](C& x, std::int32_t v) { x.setMaxVisibleItems(v < 1 ? 1 : v); })
            .Object(
                "Items", TStrings::StaticClass(), [](C& x) -> TObject* { return &x.Items(); },
                [](C& x, TObject* v) { AssignInto(x.Items(), v); })
            .Opaque("OnChange", TypeKind::tkMethod, "TNotifyEvent")
            .Boolean("Sorted", &C::Sorted, &C::SetSorted)
            .String("Text", &C::Text, &C::SetText, TypeKind::tkLString, "TCaption");
        PublishControlParts(p);
    });
    return cls;
}

TComboBox::TComboBox(const QString& name, QWidget* parent)
    : QComboBox(parent), TComponent(name.toStdString()) {
    setObjectName(name);
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // No automatic completion: a typed prefix must not turn into another variable's name.
    setCompleter(nullptr);
    setMaxVisibleItems(8);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { Q_EMIT UserChanged(); });
    connect(this, &QComboBox::activated, this, [this] { Q_EMIT UserChanged(); });
}

std::string TComboBox::Text() const {
    return TextQ().toStdString();
}

void TComboBox::SetText(const std::string& text) {
    SetTextQ(Q(text));
}

QString TComboBox::TextQ() const {
    return lineEdit()->text();
}

void TComboBox::SetTextQ(const QString& text) {
    // The list's current line follows the text only when the text is exactly one of its lines.
    const int index = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (currentIndex() != index) {
        setCurrentIndex(index);
    }
    if (lineEdit()->text() != text) {
        lineEdit()->setText(text);
    }
}

template <class F> void TComboBox::KeepingText(F&& change) {
    const QString text = TextQ();
    change();
    SetTextQ(text);
}

int TComboBox::SortedPosition(const QString& text) const {
    int position = 0;
    while (position < count() &&
           QString::compare(itemText(position), text, Qt::CaseInsensitive) <= 0) {
        ++position;
    }
    return position;
}

void TComboBox::SetSorted(bool on) {
    if (on == sorted_) {
        return;
    }
    sorted_ = on;
    if (on && count() > 1) {
        QStringList lines;
        for (int i = 0; i < count(); ++i) {
            lines << itemText(i);
        }
        KeepingText([&] {
            clear();
            for (const QString& line : lines) {
                insertItem(SortedPosition(line), line);
            }
        });
    }
}

// --- TCheckBox -----------------------------------------------------------------------------

const TClass& TCheckBox::StaticClass() {
    static const TClass cls("TCheckBox", &TComponent::StaticClass(), [](TClass& c) {
        using C = TCheckBox;
        TPublisher<C> p(c);
        p.Boolean(
             "AllowGrayed", [](C& x) { return x.isTristate(); },
             [](C& x, bool v) { x.setTristate(v); })
            .String(
                "Caption", [](C& x) { return x.text().toStdString(); },
                [](C& x, const std::string& v) { x.setText(Q(v)); }, TypeKind::tkLString,
                "TCaption")
            .Boolean("Checked", &C::Checked, &C::SetChecked)
            .Opaque("OnClick", TypeKind::tkMethod, "TNotifyEvent")
            .Enumeration("State", CheckBoxStateType(), &C::State, &C::SetState);
        PublishControlParts(p);
    });
    return cls;
}

TCheckBox::TCheckBox(const QString& name, const QString& caption, QWidget* parent)
    : QCheckBox(caption, parent), TComponent(name.toStdString()) {
    setObjectName(name);
    connect(this, &QCheckBox::stateChanged, this, [this] { Q_EMIT Clicked(); });
}

std::int32_t TCheckBox::State() const {
    switch (checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void TCheckBox::SetState(std::int32_t state) {
    switch (state) {
    case 1:
        setCheckState(Qt::Checked);
        break;
    case 2:
        setCheckState(Qt::PartiallyChecked);
        break;
    default:
        setCheckState(Qt::Unchecked);
        break;
    }
}

// --- TTreeView -----------------------------------------------------------------------------

TTreeView::TTreeView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName("TreeView1");
    setHeaderHidden(true);
    setColumnCount(1);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

QMimeData* TTreeView::mimeData(const QList<QTreeWidgetItem*>& items) const {
    auto* data = QTreeWidget::mimeData(items);
    if (data == nullptr) {
        data = new QMimeData;
    }
    if (!items.isEmpty() && items.front() != nullptr) {
        const QString text = items.front()->text(0);
        data->setData(kNodeMimeType, text.toUtf8());
        data->setText(text);
    }
    return data;
}

// --- TPaintBox -----------------------------------------------------------------------------

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent) {
    setObjectName("PaintBox1");
    // Every pixel is painted on each update; nothing underneath needs to be drawn first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox::SetBitmap(const QImage* bitmap) {
    bitmap_ = bitmap;
    update();
}

void TPaintBox::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    if (bitmap_ == nullptr || !bitmap_->rect().contains(area)) {
        painter.fillRect(area, Qt::white);
    }
    if (bitmap_ != nullptr) {
        painter.drawImage(area.topLeft(), *bitmap_, area);
    }
}

// --- TWrapButton ---------------------------------------------------------------------------

TWrapButton::TWrapButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {}

void TWrapButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    style()->drawControl(QStyle::CE_PushButton, &option, &painter, this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(rect().adjusted(2, 1, -2, -1), Qt::AlignCenter | Qt::TextWordWrap, text());
}

} // namespace scope
