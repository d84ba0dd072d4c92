"""How a release test fails: a Failure with what was found."""


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)
