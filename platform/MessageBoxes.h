#pragma once

// Shows notices and the general error report as real message boxes: no icon
// (notices) or the critical icon (errors), one OK button, the application
// title as caption, centred on the screen.
void InstallMessageBoxPresenters();
