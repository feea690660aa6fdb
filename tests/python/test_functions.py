"""Around the operations: Python's sys.stdout is flushed right before training
or evaluation writes its lines to file descriptor 1."""

import sys

import numpy as np
import pytest

import brenik

X = np.ones((1, 1), np.float32)
Y = np.ones(1, np.float32)


class RecordingStdout:
    def __init__(self, fail=False):
        self.flushes = 0
        self.fail = fail

    def write(self, text):
        return len(text)

    def flush(self):
        self.flushes += 1
        if self.fail:
            raise OSError("flush failed")


def evaluate():
    brenik.evaluate_linear_model(brenik.create_linear_model("linear", ""), X, Y)


def train():
    brenik.train_linear_model(brenik.create_linear_model("linear", ""),
                              brenik.create_optimizer("sgd", 0.1, 0.0), 1, 1, X, Y, X, Y)


@pytest.mark.parametrize("operation", [evaluate, train], ids=["evaluate", "train"])
def test_stdout_is_flushed_once_before_the_operation(monkeypatch, capfd, operation):
    recorder = RecordingStdout()
    monkeypatch.setattr(sys, "stdout", recorder)
    operation()
    assert recorder.flushes == 1
    assert capfd.readouterr().out != ""


def test_stdout_is_not_flushed_when_an_argument_is_refused(monkeypatch):
    recorder = RecordingStdout()
    monkeypatch.setattr(sys, "stdout", recorder)
    with pytest.raises(TypeError):
        brenik.evaluate_linear_model(brenik.create_linear_model("linear", ""), X, [1.0])
    assert recorder.flushes == 0


@pytest.mark.parametrize("replace", [
    lambda monkeypatch: monkeypatch.setattr(sys, "stdout", RecordingStdout(fail=True)),
    lambda monkeypatch: monkeypatch.setattr(sys, "stdout", None),
    lambda monkeypatch: monkeypatch.delattr(sys, "stdout"),
], ids=["failing_flush", "none", "missing"])
def test_operation_runs_whatever_sys_stdout_is(monkeypatch, capfd, replace):
    replace(monkeypatch)
    evaluate()
    assert capfd.readouterr().out.endswith("Validation MSE: 0.000, Accuracy 100.0%\n")
