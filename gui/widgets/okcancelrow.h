#pragma once

class QHBoxLayout;
class QPushButton;
class QWidget;

// The "&OK" / "&Cancelar" row that the registration windows end with, right-aligned, the buttons
// named cmdOK and cmdCancelar.
QHBoxLayout* OkCancelRow(QWidget* parent, QPushButton** ok, QPushButton** cancel);
