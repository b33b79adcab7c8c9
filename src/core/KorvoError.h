#pragma once

#include <QString>
#include <exception>
#include <string>

// Base of every error a Korvo service throws. Each carries its finished, user-facing sentence;
// only the store's operation runner turns it into interface state. Each service derives its
// own error type (KeychainStoreError, LocalFileProtectionError, FilePreparationError,
// BridgeError, StoreError, ...), usually with an enumeration of cases.
class KorvoError : public std::exception {
public:
    explicit KorvoError(QString message)
        : m_message(std::move(message)), m_utf8(m_message.toStdString()) {}

    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_message;
    std::string m_utf8;
};
