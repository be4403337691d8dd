import korva


def test_version():
    assert korva.__version__ == "0.2.0"
