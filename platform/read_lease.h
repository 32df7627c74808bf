#pragma once
// A read lease on an open file: granted only while no one has the file open for writing
// (or mapped shared and writable), and broken as soon as someone opens it so. Moving a
// zipped original to the trash, or rewriting a file in place, under one leaves files that
// are being written alone. No Qt.

namespace orbelan {

enum class LeaseState {
  Held,        // granted
  Writers,     // refused: the file is open for writing
  Unknown,     // leases cannot be had here (not the file's owner, or not supported)
};

// A lease break is announced with SIGIO, whose default action ends the process: unless the
// program handles it, it is ignored (once per process), the break being looked for with
// LeaseStillHeld.
void IgnoreLeaseBreakSignal();

// Takes a read lease on fd (opened read-only). A break is announced with SIGIO, whose
// default action ends the process: unless the program handles it, it is ignored, the
// break being looked for with LeaseStillHeld.
LeaseState TakeReadLease(int fd);
// Whether the lease taken on fd still stands (no one has asked to write since).
bool LeaseStillHeld(int fd);
// Gives it back, so that a writer who waits for it goes on.
void DropLease(int fd);

}  // namespace orbelan
