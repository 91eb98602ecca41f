// Filled by the HTTP client.
