#pragma once

#include "core/KorvoError.h"

// The store's own failures: one case, a finished sentence for the user.
class StoreError : public KorvoError {
public:
    static StoreError message(const QString& text) { return StoreError(text); }

private:
    explicit StoreError(const QString& text) : KorvoError(text) {}
};
