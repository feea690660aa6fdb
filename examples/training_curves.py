"""Draw training curves of the digits classifier to a PNG.

brenik reports progress as printed lines. This script captures them (they go
to file descriptor 1, see fd_capture.py), parses the loss and accuracy of the
training and validation sets at every printed epoch, and plots both with
matplotlib.

    python examples/training_curves.py [--epochs 200] [--out build/examples/training_curves.png]
"""

import argparse
import re

import matplotlib

matplotlib.use("Agg")  # files only, no screen needed
import matplotlib.pyplot as plt

import brenik
from digits import build_model, split_digits
from fd_capture import captured_lines
from outputs import output_path

TRAINING = re.compile(r"epoch: *(\d+), acc: (\S+), loss: (\S+) \[")
VALIDATION = re.compile(r"validation:  acc: (\S+), loss: (\S+) \[")


def parse_progress(lines):
    """{"epoch": [...], "acc": [...], "loss": [...], "val_acc": [...], "val_loss": [...]}"""
    curves = {key: [] for key in ("epoch", "acc", "loss", "val_acc", "val_loss")}
    for line in lines:
        if match := TRAINING.match(line):
            curves["epoch"].append(int(match[1]))
            curves["acc"].append(float(match[2]))  # "NaN" and "inf" parse as floats too
            curves["loss"].append(float(match[3]))
        elif match := VALIDATION.match(line):
            curves["val_acc"].append(float(match[1]))
            curves["val_loss"].append(float(match[2]))
    return curves


def plot(curves, path):
    fig, (loss_ax, acc_ax) = plt.subplots(1, 2, figsize=(10, 4))
    for ax, key, title in ((loss_ax, "loss", "loss (cross-entropy)"), (acc_ax, "acc", "accuracy")):
        ax.plot(curves["epoch"], curves[key], label="training")
        if curves["val_" + key]:
            ax.plot(curves["epoch"], curves["val_" + key], label="validation")
        ax.set_xlabel("epoch")
        ax.set_title(title)
        ax.grid(alpha=0.3)
        ax.legend()
    loss_ax.set_yscale("log")
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--epochs", type=int, default=200)
    parser.add_argument("--reports", type=int, default=50, help="printed epochs to plot")
    parser.add_argument("--out", default=output_path("training_curves.png"))
    args = parser.parse_args()

    x_train, y_train, x_test, y_test = split_digits()
    model = build_model("")  # no best-parameters file needed here
    opt = brenik.create_optimizer("adam", 0.01, 0.0)
    with captured_lines() as lines:
        brenik.train_categorical_model(model, opt, args.epochs, args.reports,
                                       x_train, y_train, x_test, y_test)
    print("\n".join(lines[-2:]))
    curves = parse_progress(lines)
    plot(curves, args.out)
    print(f"{len(curves['epoch'])} epochs plotted to {args.out}")


if __name__ == "__main__":
    main()
