"""The package's one exception."""


class QuorvaneError(Exception):
    """A refusal or failure, in words. `result` is the driver function's
    result when there was one, `driver_text` the driver's own error lines
    (from its log), `valid` what would have been accepted, when known."""

    def __init__(self, message, result=None, driver_text=(), valid=None):
        self.result = result
        self.driver_text = list(driver_text)
        self.valid = valid
        full = message
        for line in self.driver_text:
            full += "\n  driver: " + line
        if valid is not None:
            full += "\n  valid values: " + (", ".join(str(v) for v in valid) if isinstance(valid, list) else valid)
        super().__init__(full)
