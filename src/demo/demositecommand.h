#pragma once

// Serves the demo literature site on 127.0.0.1 at the port (a free one for 0) until SIGINT or
// SIGTERM, after printing "Demo site: http://127.0.0.1:PORT/". Uses the running application object
// or makes a QCoreApplication of its own. Returns the process exit code.
int runDemoSiteCommand(int port);
