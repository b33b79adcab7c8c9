.pragma library
// Formatting and small decisions shared by the views. Pure functions, no state.

// ---- Layout ----------------------------------------------------------------

var compactBreakpoint = 1140;

function isCompact(width) {
    return width < compactBreakpoint;
}

// ---- Byte counts -----------------------------------------------------------

var byteUnits = ["KB", "MB", "GB", "TB"];
// Fraction digits per unit: none for KB, one for MB, two from GB upwards.
var byteUnitDigits = [0, 1, 2, 2];
var byteCountCap = 9e18;
var zeroBytesText = "Zero KB";

function groupThousands(integerText) {
    var out = "";
    for (var i = 0; i < integerText.length; ++i) {
        if (i > 0 && (integerText.length - i) % 3 === 0)
            out += ",";
        out += integerText.charAt(i);
    }
    return out;
}

function formatUnitValue(value, digits) {
    var fixed = value.toFixed(digits);
    if (digits > 0)
        fixed = fixed.replace(/\.?0+$/, "");
    var parts = fixed.split(".");
    parts[0] = groupThousands(parts[0]);
    return parts.join(".");
}

// Base-1024 byte count in KB, MB, GB or TB, without the exact byte count.
function formatBytes(value) {
    var bytes = Number(value);
    if (!isFinite(bytes) && bytes > 0)
        bytes = byteCountCap;
    if (!(bytes > 0))
        return zeroBytesText;
    bytes = Math.min(Math.round(bytes), byteCountCap);
    if (bytes <= 0)
        return zeroBytesText;
    var unit = 0;
    var scaled = bytes / 1024;
    while (unit < byteUnits.length - 1 && scaled >= 1024) {
        scaled /= 1024;
        unit += 1;
    }
    var digits = byteUnitDigits[unit];
    var factor = Math.pow(10, digits);
    var rounded = Math.round(scaled * factor) / factor;
    // 1023.96 MB rounds to 1,024 MB: say 1 GB instead.
    if (rounded >= 1024 && unit < byteUnits.length - 1) {
        unit += 1;
        digits = byteUnitDigits[unit];
        factor = Math.pow(10, digits);
        rounded = Math.round(scaled / 1024 * factor) / factor;
    }
    // A positive count never reads as nothing.
    if (rounded <= 0)
        rounded = 1 / factor;
    return formatUnitValue(rounded, digits) + " " + byteUnits[unit];
}

// ---- Usage gauge ----------------------------------------------------------

function gaugeFraction(used, limit) {
    var u = Number(used), l = Number(limit);
    if (!(l > 0) || !(u > 0))
        return 0;
    return Math.min(1, u / l);
}

// One of "accent", "warning", "destructive", from the unclamped ratio.
function gaugeTint(used, limit) {
    var u = Number(used), l = Number(limit);
    if (!(l > 0))
        return "accent";
    var r = u / l;
    if (!(r > 0))
        return "accent";
    if (r >= 0.9)
        return "destructive";
    if (r >= 0.7)
        return "warning";
    return "accent";
}

function actionCountText(count) {
    var n = Math.round(Number(count) || 0);
    return n + (n === 1 ? " action" : " actions");
}

function usageAmountsText(used, limit) {
    return formatBytes(used) + " / " + formatBytes(limit);
}

function remainingText(remaining) {
    return formatBytes(remaining) + " left";
}

function gaugeAccessibleValue(used, remaining) {
    return formatBytes(used) + " used, " + formatBytes(remaining) + " remaining";
}

// ---- Plan and period ------------------------------------------------------

function capitalizeWords(text) {
    return text.split(" ").map(function (word) {
        if (word.length === 0)
            return word;
        return word.charAt(0).toUpperCase() + word.slice(1).toLowerCase();
    }).join(" ");
}

// "pro_annual-2" reads "Pro Annual".
function planName(planId) {
    var id = planId === undefined || planId === null ? "" : String(planId);
    var dash = id.indexOf("-");
    var head = dash >= 0 ? id.slice(0, dash) : id;
    return capitalizeWords(head.replace(/_/g, " "));
}

var monthAbbreviations = ["Jan", "Feb", "Mar", "Apr", "May", "Jun",
                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"];

function toDate(value) {
    if (value instanceof Date)
        return isNaN(value.getTime()) ? null : value;
    if (value === undefined || value === null || value === "")
        return null;
    var d = new Date(value);
    return isNaN(d.getTime()) ? null : d;
}

// "Mar 5" in local time; empty when the date cannot be read.
function monthDay(value) {
    var d = toDate(value);
    return d ? monthAbbreviations[d.getMonth()] + " " + d.getDate() : "";
}

function resetsText(periodEnd) {
    var day = monthDay(periodEnd);
    return day ? "Resets " + day : "";
}

// "3:07 PM" in local time.
function timeOfDay(value) {
    var d = toDate(value);
    if (!d)
        return "";
    var h = d.getHours();
    var m = d.getMinutes();
    var suffix = h < 12 ? "AM" : "PM";
    var h12 = h % 12 === 0 ? 12 : h % 12;
    return h12 + ":" + (m < 10 ? "0" : "") + m + " " + suffix;
}

// ---- Selected files -------------------------------------------------------

var visibleFileLimit = 3;

function visibleFiles(paths) {
    return (paths || []).slice(0, visibleFileLimit);
}

// "+ 2 more" for five paths; empty when all fit.
function moreFilesText(count) {
    var hidden = (Number(count) || 0) - visibleFileLimit;
    return hidden > 0 ? "+ " + hidden + " more" : "";
}

function isDirectoryPath(path) {
    return String(path).slice(-1) === "/";
}

function lastPathComponent(path) {
    var p = String(path);
    if (p.indexOf("file://") === 0)
        p = decodeURIComponent(p.slice(7));
    var trimmed = p.replace(/\/+$/, "");
    if (trimmed.length === 0)
        return p.length > 0 ? "/" : "";
    return trimmed.slice(trimmed.lastIndexOf("/") + 1);
}

// ---- Korvo numbers --------------------------------------------------------

// Decimal digits of every script (start of each run of ten), then other numeric characters
// (superscripts, fractions, roman numerals, circled numbers, ...), as [first, last] ranges.
var decimalDigitRuns = [0x30, 0x660, 0x6F0, 0x7C0, 0x966, 0x9E6, 0xA66, 0xAE6, 0xB66, 0xBE6,
                        0xC66, 0xCE6, 0xD66, 0xDE6, 0xE50, 0xED0, 0xF20, 0x1040, 0x1090, 0x17E0,
                        0x1810, 0x1946, 0x19D0, 0x1A80, 0x1A90, 0x1B50, 0x1BB0, 0x1C40, 0x1C50,
                        0xA620, 0xA8D0, 0xA900, 0xA9D0, 0xA9F0, 0xAA50, 0xABF0, 0xFF10,
                        0x104A0, 0x11066, 0x110F0, 0x11136, 0x111D0, 0x116C0, 0x1D7CE, 0x1D7D8,
                        0x1D7E2, 0x1D7EC, 0x1D7F6, 0x1E950, 0x1FBF0];
var otherNumericRanges = [[0xB2, 0xB3], [0xB9, 0xB9], [0xBC, 0xBE], [0x9F4, 0x9F9],
                          [0xBF0, 0xBF2], [0xF2A, 0xF33], [0x1369, 0x137C], [0x16EE, 0x16F0],
                          [0x2070, 0x2070], [0x2074, 0x2079], [0x2080, 0x2089], [0x2150, 0x2182],
                          [0x2185, 0x2189], [0x2460, 0x249B], [0x24EA, 0x24FF], [0x2776, 0x2793],
                          [0x2CFD, 0x2CFD], [0x3007, 0x3007], [0x3021, 0x3029], [0x3038, 0x303A],
                          [0x3192, 0x3195], [0x3220, 0x3229], [0x3248, 0x324F], [0x3251, 0x325F],
                          [0x3280, 0x3289], [0x32B1, 0x32BF], [0x1F100, 0x1F10C]];

function isDecimalDigitCodePoint(cp) {
    for (var i = 0; i < decimalDigitRuns.length; ++i) {
        if (cp >= decimalDigitRuns[i] && cp < decimalDigitRuns[i] + 10)
            return true;
    }
    return false;
}

function isNumericCodePoint(cp) {
    if (isDecimalDigitCodePoint(cp))
        return true;
    for (var j = 0; j < otherNumericRanges.length; ++j) {
        if (cp >= otherNumericRanges[j][0] && cp <= otherNumericRanges[j][1])
            return true;
    }
    return false;
}

// Keeps the numeric characters of the text, in order; no length limit.
function numericCharactersOnly(text) {
    var s = text === undefined || text === null ? "" : String(text);
    var out = "";
    for (var i = 0; i < s.length; ++i) {
        var cp = s.codePointAt(i);
        var width = cp > 0xFFFF ? 2 : 1;
        if (isNumericCodePoint(cp))
            out += s.substr(i, width);
        i += width - 1;
    }
    return out;
}

// ---- Status line ----------------------------------------------------------

var readyText = "Ready";

function statusText(message) {
    return message ? message : readyText;
}

// ---- Sign-in ---------------------------------------------------------------

function initials(email) {
    var text = email === undefined || email === null ? "" : String(email);
    var at = text.indexOf("@");
    var local = at >= 0 ? text.slice(0, at) : text;
    var pieces = local.split(/[._-]/).filter(function (p) { return p.length > 0; });
    if (pieces.length === 0)
        return "K";
    return pieces.slice(0, 2).map(function (p) { return p.charAt(0).toUpperCase(); }).join("");
}
