# Tests of the HTTP client, JSON documents, regular expressions and the cloud frame.
