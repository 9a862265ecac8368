#pragma once

namespace sonaweld {

// Starts the program: one modal main dialog, then the end.
class CMainApp
{
public:
    // Runs the main dialog to its end; the result is the process exit code.
    int InitInstance();
};

} // namespace sonaweld
