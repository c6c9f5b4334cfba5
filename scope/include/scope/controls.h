// The scope window's controls. The combo boxes and check boxes that the settings files keep are
// Qt widgets and persistence components at once: they publish "TComboBox" and "TCheckBox" with
// the properties the serializer walks (Items, Text, Checked, State, Font, Constraints ...), so
// the global serializer stores the widgets themselves and never a copy of them.
#pragma once

#include "persistence/classes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <QTreeWidget>
#include <QWidget>

#include <cstdint>
#include <string>

namespace scope {

class TComboBox;

// The item list of a combo box, seen by the serializer as a string list. A sorted box puts
// every inserted line at its place (letter case ignored), as a sorted Windows list does.
class TComboItems : public persistence::TStrings {
public:
    explicit TComboItems(TComboBox& box) : box_(box) {}

    int Count() const override;
    std::string Get(int index) const override;
    void Put(int index, const std::string& text) override;
    void Insert(int index, const std::string& text) override;
    void Delete(int index) override;
    void Clear() override;

private:
    TComboBox& box_;
};

// An editable combo box whose edit text lives apart from its list: changing the list never
// changes the text, and the text never selects or adds an item by itself. Programmatic changes
// of the text never count as a change by the user (no OnChange).
class TComboBox : public QComboBox, public persistence::TComponent {
    Q_OBJECT
public:
    static const persistence::TClass& StaticClass();
    const persistence::TClass& ClassType() const override { return StaticClass(); }

    TComboBox(const QString& name, QWidget* parent);

    std::string Text() const;
    void SetText(const std::string& text);
    QString TextQ() const;
    void SetTextQ(const QString& text);

    bool Sorted() const { return sorted_; }
    // Sorting an existing list puts its lines in order at once.
    void SetSorted(bool on);

    TComboItems& Items() { return items_; }
    persistence::TFont& Font() { return font_; }
    persistence::TSizeConstraints& Constraints() { return constraints_; }

    // The index at which a sorted list takes text (after equal lines).
    int SortedPosition(const QString& text) const;

Q_SIGNALS:
    // The user typed into the box or picked an item from its list.
    void UserChanged();

private:
    friend class TComboItems;
    // Runs a change of the list and puts the edit text back afterwards.
    template <class F> void KeepingText(F&& change);

    TComboItems items_{*this};
    persistence::TFont font_;
    persistence::TSizeConstraints constraints_;
    bool sorted_ = false;
};

// A check box published as "TCheckBox". Every change of its state, by the user, by the
// program or by a settings load, emits Clicked: the window acts on what the box shows, whoever
// set it, so a loaded settings file switches channels on as a click would.
class TCheckBox : public QCheckBox, public persistence::TComponent {
    Q_OBJECT
public:
    static const persistence::TClass& StaticClass();
    const persistence::TClass& ClassType() const override { return StaticClass(); }

    TCheckBox(const QString& name, const QString& caption, QWidget* parent);

    bool Checked() const { return checkState() == Qt::Checked; }
    void SetChecked(bool on) { setCheckState(on ? Qt::Checked : Qt::Unchecked); }
    // 0 cbUnchecked, 1 cbChecked, 2 cbGrayed.
    std::int32_t State() const;
    void SetState(std::int32_t state);

    persistence::TFont& Font() { return font_; }
    persistence::TSizeConstraints& Constraints() { return constraints_; }

Q_SIGNALS:
    void Clicked();

private:
    persistence::TFont font_;
    persistence::TSizeConstraints constraints_;
};

// The variable tree. A dragged node carries its text in a format only this tree produces, so
// a drop target can tell a tree node from any other text.
class TTreeView : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr const char* kNodeMimeType = "application/x-ombrix-tree-node";

    explicit TTreeView(QWidget* parent);
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override;
};

// The scope screen: shows the trace bitmap at (0, 0); white until there is one.
class TPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget* parent);
    void SetBitmap(const QImage* bitmap);
    // Copies the whole bitmap to the screen, or the part of it that changed.
    void CopyToScreen() { update(); }
    void CopyToScreen(const QRect& changed) { update(changed); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const QImage* bitmap_ = nullptr;
};

// A push button whose caption wraps onto several lines.
class TWrapButton : public QPushButton {
    Q_OBJECT
public:
    TWrapButton(const QString& caption, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace scope
