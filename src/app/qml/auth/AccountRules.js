.pragma library
.import "../style/Format.js" as Format
// When the account forms may be sent, and the password-strength score. Pure functions.

var minimumPasswordLength = 8;
var deletionCodeLength = 6;

function text(value) {
    return value === undefined || value === null ? "" : String(value);
}

// The code points of a text, a surrogate pair counting once.
function codePoints(value) {
    var s = text(value);
    var out = [];
    for (var i = 0; i < s.length; ++i) {
        var cp = s.codePointAt(i);
        out.push(cp);
        if (cp > 0xFFFF)
            i += 1;
    }
    return out;
}

function characterCount(value) {
    return codePoints(value).length;
}

function hasMinimumLength(password) {
    return characterCount(password) >= minimumPasswordLength;
}

// ---- Forms ------------------------------------------------------------------

// Sign-in: the trimmed, lower-cased e-mail contains "@" and the password is long enough.
function canSignIn(email, password) {
    return text(email).trim().toLowerCase().indexOf("@") >= 0 && hasMinimumLength(password);
}

// Account creation and password reset compare the fields exactly as typed.
function canRegister(email, password, confirmation) {
    return text(email).indexOf("@") >= 0 && hasMinimumLength(password) && text(password) === text(confirmation);
}

function canVerifyCode(code) {
    return text(code).length > 0;
}

function canRequestReset(email) {
    return text(email).indexOf("@") >= 0;
}

function canResetPassword(code, password, confirmation) {
    return text(code).length > 0 && hasMinimumLength(password) && text(password) === text(confirmation);
}

// ---- Account deletion ----------------------------------------------------------

function canRequestDeletion(password, understandsDeletion, isBusy) {
    return !isBusy && understandsDeletion === true && hasMinimumLength(password);
}

// Six numeric characters (any script's digits, full-width ones included) once white space and
// line breaks are trimmed from both ends.
function isDeletionCode(code) {
    var trimmed = text(code).trim();
    return characterCount(trimmed) === deletionCodeLength && Format.numericCharactersOnly(trimmed) === trimmed;
}

function canConfirmDeletion(code, isBusy) {
    return !isBusy && isDeletionCode(code);
}

function deletionCodeSubtitle(email) {
    return "Enter the six-digit code sent to " + (text(email).length > 0 ? text(email) : "your email") + ".";
}

// ---- Password strength ----------------------------------------------------------

// Letters without case (no upper/lower forms) of the widespread scripts.
var uncasedLetterRanges = [[0x05D0, 0x05EA], [0x0620, 0x064A], [0x0904, 0x0939], [0x0E01, 0x0E30],
                           [0x3041, 0x30FF], [0x3400, 0x4DBF], [0x4E00, 0x9FFF], [0xAC00, 0xD7A3]];

function isUpperCaseLetter(ch) {
    return ch !== ch.toLowerCase() && ch === ch.toUpperCase();
}

function isLetter(ch, cp) {
    if (ch.toLowerCase() !== ch.toUpperCase())
        return true;
    for (var i = 0; i < uncasedLetterRanges.length; ++i) {
        if (cp >= uncasedLetterRanges[i][0] && cp <= uncasedLetterRanges[i][1])
            return true;
    }
    return false;
}

// One point each: at least 8 characters, an upper-case letter, a decimal digit, a character
// that is neither a letter nor a digit.
function passwordScore(password) {
    var upper = false, digit = false, symbol = false;
    var points = codePoints(password);
    for (var i = 0; i < points.length; ++i) {
        var ch = String.fromCodePoint(points[i]);
        var isDigit = Format.isDecimalDigitCodePoint(points[i]);
        upper = upper || isUpperCaseLetter(ch);
        digit = digit || isDigit;
        symbol = symbol || (!isDigit && !isLetter(ch, points[i]));
    }
    return (points.length >= minimumPasswordLength ? 1 : 0) + (upper ? 1 : 0) + (digit ? 1 : 0) + (symbol ? 1 : 0);
}

function strengthText(score) {
    return score >= 3 ? "Good password strength." : "Use 8+ characters with a number or symbol.";
}
