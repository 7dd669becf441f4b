"""Record a machine's platform answers through the module, and replay them
through the stand-in. See docs/recording.md."""
