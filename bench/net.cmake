# Benchmarks of the HTTP client and JSON documents.
