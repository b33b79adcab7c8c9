#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

class QQmlEngine;
class QJSEngine;

// The account forms' rules as the views ask them (QML singleton `FormRules`, through
// qml/auth/AccountRules.js): the same functions the flows check before sending anything, so
// a button is enabled exactly when the flow accepts what was typed.
class FormRules : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // Characters as a person counts them (an emoji with its skin tone is one).
    Q_INVOKABLE static int characterCount(const QString& text);
    Q_INVOKABLE static bool hasMinimumLength(const QString& password);
    Q_INVOKABLE static bool canSignIn(const QString& email, const QString& password);
    // Six numeric characters of any script once trimmed.
    Q_INVOKABLE static bool isDeletionCode(const QString& code);
};
