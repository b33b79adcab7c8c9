#pragma once

// How buttons and text fields meet assistive technologies (AT-SPI on Linux). Qt Quick 6.4
// reports every control as enabled and reads a password field's text out of its `text`
// property, so these two kinds get a description of their own: a control that is turned off
// says so, and a password field gives its role and name, and bullets for its characters.
namespace AccessibleControls {

// Installs the description for every window of the application; safe to call more than once.
void install();

} // namespace AccessibleControls
