module app.main {
  requires app.greeting;
}
