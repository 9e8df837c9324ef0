<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name></name>
    <message id="general_fail">
        <source>general_fail</source>
        <translation>Une erreur est survenue. Veuillez réessayer.</translation>
    </message>
</context>
</TS>
