#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The account forms' rules as the views ask them: the same functions the flows apply when the
// form is sent, so a button is never enabled for a form the flow then refuses.
class FormRules : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    Q_INVOKABLE bool canSignIn(const QString& email, const QString& password) const;
    Q_INVOKABLE bool canRegister(const QString& email, const QString& password, const QString& confirmation) const;
    Q_INVOKABLE bool canVerifyCode(const QString& code) const { return !code.isEmpty(); }
    Q_INVOKABLE bool canRequestReset(const QString& email) const { return email.contains(QLatin1Char('@')); }
    Q_INVOKABLE bool canResetPassword(const QString& code, const QString& password, const QString& confirmation) const;
    Q_INVOKABLE bool canRequestDeletion(const QString& password, bool understandsDeletion, bool busy) const;
    Q_INVOKABLE bool canConfirmDeletion(const QString& code, bool busy) const;
    Q_INVOKABLE int passwordScore(const QString& password) const;
    Q_INVOKABLE QString strengthText(int score) const;
    Q_INVOKABLE QString deletionCodeSubtitle(const QString& email) const;
    Q_INVOKABLE QString numericCharactersOnly(const QString& text) const;
};
