#include "window/accessibility.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QWidget>

#include "window/form1.h"
#include "window/picture1.h"
#include "window/printed_text.h"

namespace {

// Form1 is a plain QWidget, which Qt presents as a filler; screen readers look
// for a frame to say which window the user is in. Its description is what is
// printed on it, and the printed text is a child of its own.
class AccessibleForm1 : public QAccessibleWidget {
public:
    explicit AccessibleForm1(Form1* form) : QAccessibleWidget(form, QAccessible::Window) {}

    [[nodiscard]] QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Description) {
            return printed()->text();
        }
        return QAccessibleWidget::text(kind);
    }

    [[nodiscard]] int childCount() const override { return QAccessibleWidget::childCount() + 1; }

    [[nodiscard]] QAccessibleInterface* child(int index) const override {
        if (index == QAccessibleWidget::childCount()) {
            return QAccessible::queryAccessibleInterface(printed());
        }
        return QAccessibleWidget::child(index);
    }

    [[nodiscard]] int indexOfChild(const QAccessibleInterface* child) const override {
        if (child != nullptr && child->object() == printed()) {
            return QAccessibleWidget::childCount();
        }
        return QAccessibleWidget::indexOfChild(child);
    }

private:
    // The one PrintedText lives on the client area, inside the scroll area.
    [[nodiscard]] PrintedText* printed() const { return widget()->findChild<PrintedText*>(); }
};

// The prompt under the picture. A notification rather than a label: see
// PrintedText::announce for what Orca reads.
class AccessiblePrintedText : public QAccessibleObject {
public:
    explicit AccessiblePrintedText(PrintedText* printed) : QAccessibleObject(printed) {}

    [[nodiscard]] QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(printed()->surface()->window());
    }
    [[nodiscard]] int childCount() const override { return 0; }
    [[nodiscard]] QAccessibleInterface* child(int /*index*/) const override { return nullptr; }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface* /*child*/) const override { return -1; }

    [[nodiscard]] QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name ? printed()->text() : QString();
    }
    [[nodiscard]] QAccessible::Role role() const override { return QAccessible::Notification; }
    [[nodiscard]] QAccessible::State state() const override {
        QAccessible::State state;
        state.invisible = printed()->text().isEmpty();
        return state;
    }
    [[nodiscard]] QRect rect() const override {
        const QRect onSurface = printed()->rect();
        return {printed()->surface()->mapToGlobal(onSurface.topLeft()), onSurface.size()};
    }

private:
    [[nodiscard]] PrintedText* printed() const { return static_cast<PrintedText*>(object()); }
};

QAccessibleInterface* interfaceFor(const QString& className, QObject* object) {
    if (className == QLatin1String("Form1")) {
        return new AccessibleForm1(static_cast<Form1*>(object));
    }
    if (className == QLatin1String("Picture1")) {
        // A plain QWidget would be a filler, which screen readers skip over.
        return new QAccessibleWidget(static_cast<Picture1*>(object), QAccessible::Graphic);
    }
    if (className == QLatin1String("PrintedText")) {
        return new AccessiblePrintedText(static_cast<PrintedText*>(object));
    }
    return nullptr;
}

}  // namespace

void installAccessibleInterfaces() { QAccessible::installFactory(interfaceFor); }
