#pragma once

// What both test programs set up once the toolkit is initialised, as the
// launcher does at start-up: a toolkit assertion fails the running test, the
// log is ready for worker threads, and libcurl is initialised before any
// thread makes a request. EndTestProcess undoes what needs undoing.
void BeginTestProcess();
void EndTestProcess();
