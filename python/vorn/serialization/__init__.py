"""Serialization of Vorn values; ``_textcodec`` prints and parses the text format."""
