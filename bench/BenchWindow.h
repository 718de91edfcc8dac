#pragma once
// The benchmarks' window: connected to the simulated adapter it found, shown,
// reading with no pause between readings, its memo empty.

class TMainForm;

// Searches, powers and connects the encoder, sets no pause between readings,
// shows the window and empties the memo (from then on only failed readings
// write to it). False when no encoder could be connected.
bool ConnectWindowToSimulator(TMainForm& form);
