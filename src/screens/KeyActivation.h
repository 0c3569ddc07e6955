#pragma once

class QApplication;

// Enter and Return press the focused button, as Space does: keyboard users expect both.
void installKeyActivation(QApplication& app);
