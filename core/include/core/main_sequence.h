// Main: shows the main window, whose load runs the board start-up, then sets
// the start values of the control state.
#pragma once

namespace tarnel {

// The main window as Main sees it: showing it runs its load handler to the
// end before it becomes visible. A refused start-up ends the program inside
// ShowModeless.
class MainWindowShell {
public:
    virtual ~MainWindowShell() = default;
    virtual void ShowModeless() = 0;
};

void Main(MainWindowShell& mainForm);

}  // namespace tarnel
