#pragma once

// Runs the tests once the toolkit is initialised, set up as the launcher sets
// itself up: the log ready for worker threads, libcurl before any thread makes
// a request; a toolkit assertion fails the running test.
int RunTests();
