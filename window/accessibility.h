#pragma once

// Teaches Qt's accessibility how screen readers should see the window: Form1
// as a frame that holds the printed prompt as a notification, Picture1 as an
// image. Safe to call more than once; must run before the first query for
// these objects, which Qt then caches.
void installAccessibleInterfaces();
