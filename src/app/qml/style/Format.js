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
