// Filled later.
