#pragma once

#include "core/KorvoError.h"

// A flow's own refusals (a form that cannot be sent, an answer that says no): one case, a
// finished sentence for the person.
class FlowError : public KorvoError {
public:
    explicit FlowError(QString sentence) : KorvoError(std::move(sentence)) {}
};

// The sentence a person reads for an account failure's description: an unreachable service and a
// device key the service does not know get sentences of their own; anything else is kept.
QString accountFailureSentence(const QString& description);
