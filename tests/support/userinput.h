#pragma once

// What a user does, sent as real input events: mouse presses and releases on an
// item's rectangle, keys to the widget that has the focus, close events. Window
// tests select through these, never by setting a row from code.

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

namespace arcsweep::test {

// Makes sure the list's window is on screen and the row can be seen.
inline QPoint rowCentre(QListWidget *list, int row) {
    if (!list->window()->isVisible()) {
        list->window()->show();
        QCoreApplication::processEvents();
    }
    QListWidgetItem *item = list->item(row);
    if (item == nullptr)
        return {};
    list->scrollToItem(item);
    return list->visualItemRect(item).center();
}

inline int rowOf(const QListWidget *list, const QString &text) {
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text() == text)
            return i;
    return -1;
}

// A press and a release of the button in the middle of the row.
inline void clickRow(QListWidget *list, int row, Qt::KeyboardModifiers modifiers = {},
                     Qt::MouseButton button = Qt::LeftButton) {
    ASSERT_GE(row, 0);
    ASSERT_LT(row, list->count());
    const QPoint at = rowCentre(list, row);
    QTest::mousePress(list->viewport(), button, modifiers, at);
    QTest::mouseRelease(list->viewport(), button, modifiers, at);
}

inline void clickRow(QListWidget *list, const QString &text, Qt::KeyboardModifiers modifiers = {}) {
    const int row = rowOf(list, text);
    ASSERT_GE(row, 0) << "no row " << qPrintable(text);
    clickRow(list, row, modifiers);
}

// A user's double-click: a click, then the second press that Qt reports as a double-click.
inline void doubleClickRow(QListWidget *list, int row) {
    ASSERT_GE(row, 0);
    const QPoint at = rowCentre(list, row);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

inline void doubleClickRow(QListWidget *list, const QString &text) {
    const int row = rowOf(list, text);
    ASSERT_GE(row, 0) << "no row " << qPrintable(text);
    const QPoint at = rowCentre(list, row);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

// Selects exactly these rows of a list as a user does: a click on the first, Ctrl and
// a click on each further one; an empty list Ctrl-clicks the selected rows away.
inline void selectRows(QListWidget *list, const QStringList &texts) {
    if (texts.isEmpty()) {
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->isSelected())
                clickRow(list, i, Qt::ControlModifier);
        return;
    }
    clickRow(list, texts.first());
    for (qsizetype i = 1; i < texts.size(); ++i)
        clickRow(list, texts[i], Qt::ControlModifier);
}

// A key pressed and released on the widget that has the keyboard focus (the window
// itself when nothing has it).
inline void pressKey(QWidget *window, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QWidget *target = QApplication::focusWidget();
    if (target == nullptr || target->window() != window->window())
        target = window;
    QTest::keyClick(target, key, modifiers);
}

// Opens the drop-down list with its key and clicks the item.
inline void chooseComboItem(QComboBox *combo, const QString &text) {
    const int index = combo->findText(text);
    ASSERT_GE(index, 0) << "no item " << qPrintable(text);
    if (!combo->window()->isVisible())
        combo->window()->show();
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_F4);
    QAbstractItemView *view = combo->view();
    ASSERT_TRUE(view->isVisible());
    view->scrollTo(combo->model()->index(index, 0));
    const QPoint at = view->visualRect(combo->model()->index(index, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
}

} // namespace arcsweep::test
