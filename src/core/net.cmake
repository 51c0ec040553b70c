# The HTTP client, JSON documents, regular expressions and the cloud request frame.
