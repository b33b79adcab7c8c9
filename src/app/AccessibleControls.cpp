#include "AccessibleControls.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QQuickItem>
#include <QQuickWindow>

namespace {

// The item's `Accessible` attached object (QML creates it as a child of the item), or null.
QObject* accessibleAttached(const QObject* item)
{
    for (QObject* child : item->children()) {
        if (qstrcmp(child->metaObject()->className(), "QQuickAccessibleAttached") == 0)
            return child;
    }
    return nullptr;
}

bool isExposed(const QQuickItem* item)
{
    const QObject* attached = accessibleAttached(item);
    return attached && !attached->property("ignored").toBool();
}

bool isPasswordField(const QObject* object)
{
    // TextInput.Normal is 0; the other echo modes hide the characters.
    return object->inherits("QQuickTextInput") && object->property("echoMode").toInt() != 0;
}

class AccessibleControl : public QAccessibleObject,
                          public QAccessibleActionInterface,
                          public QAccessibleTextInterface {
public:
    explicit AccessibleControl(QQuickItem* item)
        : QAccessibleObject(item)
        , m_field(item->inherits("QQuickTextInput"))
    {
        // Assistive technologies keep states: tell them when the control turns on or off.
        QObject::connect(item, &QQuickItem::enabledChanged, item, [item] {
            QAccessible::State changed;
            changed.disabled = true;
            QAccessibleStateChangeEvent event(item, changed);
            QAccessible::updateAccessibility(&event);
        });
    }

    QQuickItem* item() const { return static_cast<QQuickItem*>(object()); }
    // Asked each time: a field's echo mode may be bound after it was first described.
    bool password() const { return m_field && isPasswordField(item()); }
    QObject* attached() const { return accessibleAttached(item()); }

    QWindow* window() const override { return item()->window(); }

    QAccessibleInterface* parent() const override
    {
        QQuickWindow* view = item()->window();
        for (QQuickItem* up = item()->parentItem(); up; up = up->parentItem()) {
            if (view && up == view->contentItem())
                return QAccessible::queryAccessibleInterface(view);
            if (isExposed(up))
                return QAccessible::queryAccessibleInterface(up);
        }
        return nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QRect rect() const override
    {
        const QQuickItem* control = item();
        if (!control->window() || !control->isVisible() || qFuzzyIsNull(control->opacity()))
            return {};
        const QPoint origin = control->window()->mapToGlobal(control->mapToScene(QPointF(0, 0)).toPoint());
        return QRect(origin, QSize(int(control->width()), int(control->height())));
    }

    QAccessible::Role role() const override
    {
        const auto declared = QAccessible::Role(attached() ? attached()->property("role").toInt() : 0);
        if (declared != QAccessible::NoRole && declared != QAccessible::Client)
            return declared;
        if (m_field)
            return QAccessible::EditableText;
        if (item()->inherits("QQuickCheckBox"))
            return QAccessible::CheckBox;
        if (item()->inherits("QQuickRadioButton"))
            return QAccessible::RadioButton;
        return QAccessible::Button;
    }

    QString text(QAccessible::Text kind) const override
    {
        const QObject* declared = attached();
        if (kind == QAccessible::Name && declared)
            return declared->property("name").toString();
        if (kind == QAccessible::Description && declared)
            return declared->property("description").toString();
        if (kind == QAccessible::Value && m_field && !password())
            return shown();
        return {};   // a password field's value is never told
    }
    void setText(QAccessible::Text, const QString&) override {}

    QAccessible::State state() const override
    {
        const QQuickItem* control = item();
        const QObject* declared = attached();
        const auto flag = [declared](const char* name) { return declared && declared->property(name).toBool(); };
        QAccessible::State state;
        state.pressed = flag("pressed") || control->property("pressed").toBool();
        state.defaultButton = flag("defaultButton");
        state.checkable = flag("checkable") || control->property("checkable").toBool()
            || role() == QAccessible::CheckBox || role() == QAccessible::RadioButton;
        state.checked = state.checkable && (flag("checked") || control->property("checked").toBool());
        const QRect area = rect();
        const QWindow* view = control->window();
        state.invisible = area.isNull() || !view || !view->isVisible();
        state.offscreen = view && !QRect(view->mapToGlobal(QPoint()), view->size()).intersects(area);
        state.disabled = !control->isEnabled();
        state.focusable = !state.disabled && (control->activeFocusOnTab() || m_field);
        state.focused = control->hasActiveFocus();
        state.passwordEdit = password();
        state.editable = m_field && !control->property("readOnly").toBool();
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        if (type == QAccessible::TextInterface && m_field)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleObject::interface_cast(type);
    }

    // ---- actions: press (and toggle), and focus ----
    QStringList actionNames() const override
    {
        QStringList names;
        if (!m_field)
            names << pressAction();
        if (state().checkable)
            names << toggleAction();
        if (state().focusable)
            names << setFocusAction();
        return names;
    }
    void doAction(const QString& name) override
    {
        QQuickItem* control = item();
        if (!control->isEnabled())
            return;
        if (name == setFocusAction()) {
            control->forceActiveFocus(Qt::OtherFocusReason);
        } else if (!m_field && (name == pressAction() || name == toggleAction())) {
            if (control->property("checkable").toBool() || state().checkable)
                QMetaObject::invokeMethod(control, "toggle");
            QMetaObject::invokeMethod(control, "clicked");
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    // ---- a field's text as shown: a password field's as one bullet per character ----
    QString shown() const { return item()->property("displayText").toString(); }
    void selection(int index, int* start, int* end) const override
    {
        *start = *end = 0;
        if (index == 0 && selectionCount() == 1) {
            *start = item()->property("selectionStart").toInt();
            *end = item()->property("selectionEnd").toInt();
        }
    }
    int selectionCount() const override
    {
        return !password() && item()->property("selectionStart") != item()->property("selectionEnd") ? 1 : 0;
    }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return item()->property("cursorPosition").toInt(); }
    void setCursorPosition(int position) override { item()->setProperty("cursorPosition", position); }
    QString text(int start, int end) const override { return shown().mid(start, end - start); }
    int characterCount() const override { return int(shown().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* start, int* end) const override
    {
        *start = *end = offset;
        return {};
    }

private:
    const bool m_field;
};

QAccessibleInterface* controlFactory(const QString&, QObject* object)
{
    auto* item = qobject_cast<QQuickItem*>(object);
    if (!item || !isExposed(item))
        return nullptr;
    // Push buttons only: check boxes and radio buttons keep Qt's own description.
    const bool pushButton = item->inherits("QQuickAbstractButton") && !item->inherits("QQuickCheckBox")
        && !item->inherits("QQuickRadioButton");
    if (pushButton || item->inherits("QQuickTextInput"))
        return new AccessibleControl(item);
    return nullptr;
}

} // namespace

namespace AccessibleControls {

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(controlFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace AccessibleControls
