// Filled in with the recording host objects.
